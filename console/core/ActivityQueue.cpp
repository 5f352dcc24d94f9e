#include "console/core/ActivityQueue.h"

#include <chrono>
#include <iterator>

bool CActivityQueue::Push(std::string text)
{
    std::unique_lock<std::timed_mutex> hold(lock_, std::chrono::milliseconds(kLockMs));
    if (!hold.owns_lock())
        return false;
    texts_.push_back(std::move(text));
    size_ = texts_.size();
    // A reader behind on its work has no need of a wake per record.
    if (texts_.size() == 1)
        changed_.notify_one();
    return true;
}

bool CActivityQueue::TakeAll(std::deque<std::string>* texts)
{
    std::unique_lock<std::timed_mutex> hold(lock_, std::chrono::milliseconds(kLockMs));
    if (!hold.owns_lock() || texts_.empty())
        return false;
    if (texts->empty())
        texts->swap(texts_);
    else
        std::move(texts_.begin(), texts_.end(), std::back_inserter(*texts));
    texts_.clear();
    size_ = 0;
    return true;
}

void CActivityQueue::Clear()
{
    std::unique_lock<std::timed_mutex> hold(lock_, std::chrono::milliseconds(kLockMs));
    if (!hold.owns_lock())
        return;
    texts_.clear();
    size_ = 0;
}

void CActivityQueue::Wait(bool forRecords)
{
    std::unique_lock<std::timed_mutex> hold(lock_);
    changed_.wait(hold, [&] { return woken_ || (forRecords && !texts_.empty()); });
    woken_ = false;
}

void CActivityQueue::Wake()
{
    std::lock_guard<std::timed_mutex> hold(lock_);
    woken_ = true;
    changed_.notify_one();
}
