#include "platform/rpc/RpcThreadPool.h"

#include "platform/rpc/RpcMemoryTrim.h"

#include <algorithm>
#include <system_error>


CRpcThreadPool::CRpcThreadPool(Hook onThreadStart, unsigned keepThreads, std::chrono::milliseconds idleExit)
    : onThreadStart_(std::move(onThreadStart)), keepThreads_(keepThreads), idleExit_(idleExit)
{
}

CRpcThreadPool::~CRpcThreadPool()
{
    {
        std::unique_lock lock(mutex_);
        stopping_ = true;
        queue_.clear();
        wake_.notify_all();
        ended_.wait(lock, [&] { return threads_.empty(); });
    }
    JoinFinished();
}

void CRpcThreadPool::JoinFinished()
{
    std::vector<std::thread> finished;
    {
        std::lock_guard lock(mutex_);
        finished.swap(finished_);
    }
    for (std::thread& t : finished)
        t.join();
}

bool CRpcThreadPool::Submit(std::function<void()> item)
{
    JoinFinished();
    std::unique_lock lock(mutex_);
    if (stopping_)
        return false;
    queue_.push_back(std::move(item));
    // Idle threads not yet woken by earlier items are spoken for already.
    if (idle_ >= queue_.size()) {
        wake_.notify_one();
        return true;
    }
    try {
        threads_.emplace_back(&CRpcThreadPool::Worker, this);
    } catch (const std::system_error&) {
        if (idle_ == 0) {
            queue_.pop_back();
            return false;
        }
        wake_.notify_one();
    }
    return true;
}

size_t CRpcThreadPool::ThreadCount() const
{
    std::lock_guard lock(mutex_);
    return threads_.size();
}

size_t CRpcThreadPool::IdleCount() const
{
    std::lock_guard lock(mutex_);
    return idle_;
}

void CRpcThreadPool::Worker()
{
    if (onThreadStart_) {
        try {
            onThreadStart_();
        } catch (...) {
            // A failing hook must not take the process down with it.
        }
    }
    std::unique_lock lock(mutex_);
    for (;;) {
        if (queue_.empty() && !stopping_) {
            ++idle_;
            bool woken = wake_.wait_for(lock, idleExit_, [&] { return !queue_.empty() || stopping_; });
            --idle_;
            if (!woken && threads_.size() > keepThreads_)
                break;
            continue;
        }
        if (stopping_)
            break;
        std::function<void()> item = std::move(queue_.front());
        queue_.pop_front();
        lock.unlock();
        try {
            item();
        } catch (...) {
            // Items catch their own failures; this keeps the thread alive.
        }
        item = nullptr;
        lock.lock();
    }
    // Hand this thread's object to whoever joins next; it may not join itself.
    // A thread not joined keeps its stack, so threads ending one after the
    // other join those that ended before them.
    std::vector<std::thread> earlier;
    earlier.swap(finished_);
    auto self = std::find_if(threads_.begin(), threads_.end(),
                             [](const std::thread& t) { return t.get_id() == std::this_thread::get_id(); });
    if (self != threads_.end()) {
        finished_.push_back(std::move(*self));
        threads_.erase(self);
    }
    const bool lastOfABurst = !stopping_ && threads_.size() <= keepThreads_;
    ended_.notify_all();
    lock.unlock();
    for (std::thread& t : earlier)
        t.join();
    // The calls of a burst of connections freed their memory to the
    // allocator, which keeps it; it goes back to the system once the burst's
    // threads are gone (not while they go: calls still running would fault
    // the memory in again).
    if (lastOfABurst)
        RpcTrimFreedMemory(true);
}
