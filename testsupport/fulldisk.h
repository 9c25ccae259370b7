#pragma once

#include <csignal>
#include <sys/resource.h>

// A full disk for the life of the object: no file of this process may grow beyond a
// few bytes, so writes fail with EFBIG as they would with ENOSPC (SIGXFSZ is ignored
// meanwhile). Works for root too, which a read-only folder does not stop.
class FullDisk
{
public:
    explicit FullDisk(rlim_t bytes = 16) : previous(std::signal(SIGXFSZ, SIG_IGN))
    {
        getrlimit(RLIMIT_FSIZE, &saved);
        rlimit small = saved;
        small.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &small);
    }
    ~FullDisk()
    {
        setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, previous);
    }
    FullDisk(const FullDisk &) = delete;
    FullDisk &operator=(const FullDisk &) = delete;

private:
    void (*previous)(int);
    rlimit saved{};
};
