#include "console/core/ActivityQueue.h"

#include <chrono>

bool CActivityQueue::Push(std::string text)
{
    std::unique_lock<std::timed_mutex> hold(lock_, std::chrono::milliseconds(kLockMs));
    if (!hold.owns_lock())
        return false;
    texts_.push_back(std::move(text));
    size_ = texts_.size();
    return true;
}

bool CActivityQueue::Take(std::string* text)
{
    std::unique_lock<std::timed_mutex> hold(lock_, std::chrono::milliseconds(kLockMs));
    if (!hold.owns_lock() || texts_.empty())
        return false;
    *text = std::move(texts_.front());
    texts_.pop_front();
    size_ = texts_.size();
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
