#pragma once

#include <QMutex>
#include <cstdint>

// Disposes of an item still held when a queue is cleared or destroyed.
using ReleaseFunc = void (*)(void *item);

struct QueueNode
{
    void *item = nullptr;
    QueueNode *next = nullptr;
};

// Unlocked FIFO of opaque items. A pushed item belongs to the queue until it is popped;
// clear() and the destructor hand every remaining item to the release function.
class OxQueue
{
public:
    explicit OxQueue(ReleaseFunc release = nullptr);
    OxQueue(const OxQueue &) = delete;
    OxQueue &operator=(const OxQueue &) = delete;
    virtual ~OxQueue();

    virtual void *front();
    virtual void *back();
    virtual void *pop();
    virtual void push(void *item);
    virtual void clear();
    virtual int64_t size();
    virtual QueueNode *firstNode();
    virtual QueueNode *lastNode();

protected:
    int64_t count = 0;
    ReleaseFunc release = nullptr;
    QueueNode *head = nullptr;
    QueueNode *tail = nullptr;
};

// OxQueue with each single operation under its own mutex. No sequence of operations is
// atomic. The release function runs with the lock held and must not touch this queue.
class MutexQueue
{
public:
    explicit MutexQueue(ReleaseFunc release = nullptr);
    MutexQueue(const MutexQueue &) = delete;
    MutexQueue &operator=(const MutexQueue &) = delete;
    virtual ~MutexQueue();

    virtual void *front();
    virtual void *back();
    virtual void *pop();
    virtual void push(void *item);
    virtual void clear();
    virtual int64_t size();

private:
    QMutex mutex;
    OxQueue queue;
};
