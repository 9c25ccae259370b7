#include "oxqueue.h"

OxQueue::OxQueue(ReleaseFunc releaseFunc) : release(releaseFunc)
{
}

OxQueue::~OxQueue()
{
    OxQueue::clear();
}

void *OxQueue::front()
{
    return head ? head->item : nullptr;
}

void *OxQueue::back()
{
    return tail ? tail->item : nullptr;
}

void *OxQueue::pop()
{
    QueueNode *node = head;
    if (!node)
        return nullptr;
    head = node->next;
    if (!head)
        tail = nullptr;
    --count;
    void *item = node->item;
    delete node;
    return item;
}

void OxQueue::push(void *item)
{
    auto *node = new QueueNode{item, nullptr};
    if (tail)
        tail->next = node;
    else
        head = node;
    tail = node;
    ++count;
}

void OxQueue::clear()
{
    QueueNode *node = head;
    // Detach first so that the queue is consistent while release() runs.
    head = tail = nullptr;
    count = 0;
    while (node) {
        QueueNode *next = node->next;
        if (release)
            release(node->item);
        delete node;
        node = next;
    }
}

int64_t OxQueue::size()
{
    return count;
}

QueueNode *OxQueue::firstNode()
{
    return head;
}

QueueNode *OxQueue::lastNode()
{
    return tail;
}

MutexQueue::MutexQueue(ReleaseFunc release) : queue(release)
{
}

MutexQueue::~MutexQueue() = default;

void *MutexQueue::front()
{
    QMutexLocker lock(&mutex);
    return queue.front();
}

void *MutexQueue::back()
{
    QMutexLocker lock(&mutex);
    return queue.back();
}

void *MutexQueue::pop()
{
    QMutexLocker lock(&mutex);
    return queue.pop();
}

void MutexQueue::push(void *item)
{
    QMutexLocker lock(&mutex);
    queue.push(item);
}

void MutexQueue::clear()
{
    QMutexLocker lock(&mutex);
    queue.clear();
}

int64_t MutexQueue::size()
{
    QMutexLocker lock(&mutex);
    return queue.size();
}
