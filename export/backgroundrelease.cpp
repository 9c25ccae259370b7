#include "backgroundrelease.h"

#include <algorithm>
#include <atomic>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace {

// The helpers still running or not yet joined. Made at the first release, so its
// destructor runs at exit before anything made earlier, and joins them.
class Releases
{
public:
    ~Releases() { waitAll(); }

    void add(std::function<void()> release)
    {
        std::lock_guard<std::mutex> lock(mutex);
        reapFinished();
        auto helper = std::make_unique<Helper>();
        Helper *h = helper.get();
        h->thread = std::thread([h, release = std::move(release)]() mutable {
            release();
            release = nullptr; // what it captured goes before the helper counts as done
            h->done = true;
        });
        helpers.push_back(std::move(helper));
    }

    void waitAll()
    {
        std::vector<std::unique_ptr<Helper>> all;
        {
            std::lock_guard<std::mutex> lock(mutex);
            all.swap(helpers);
        }
        for (auto &helper : all)
            helper->thread.join();
    }

private:
    struct Helper
    {
        std::thread thread;
        // Written by the helper as its last step, read by add() under the mutex.
        std::atomic<bool> done{false};
    };

    // Joins the helpers that are done, so that a long session does not pile them up.
    void reapFinished()
    {
        auto finished = std::stable_partition(helpers.begin(), helpers.end(),
                                              [](const auto &h) { return !h->done.load(); });
        for (auto it = finished; it != helpers.end(); ++it)
            (*it)->thread.join();
        helpers.erase(finished, helpers.end());
    }

    std::mutex mutex;
    std::vector<std::unique_ptr<Helper>> helpers;
};

Releases &releases()
{
    static Releases instance;
    return instance;
}

} // namespace

void releaseInBackground(std::function<void()> release)
{
    releases().add(std::move(release));
}
