#include "platform/threadpool/ThreadPool.h"

#include "platform/win/LastError.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>

namespace {

// A thread with nothing to do for this long ends; the next item makes a new one.
constexpr auto kIdleTimeout = std::chrono::seconds(20);

} // namespace

CThreadPool::CThreadPool(unsigned ordinaryThreads, unsigned longThreads)
{
    if (ordinaryThreads == 0)
        ordinaryThreads = std::max(2u, std::thread::hardware_concurrency());
    ordinary_.maxThreads = ordinaryThreads;
    long_.maxThreads = std::max(1u, longThreads);
}

CThreadPool::~CThreadPool()
{
    Shutdown();
}

BOOL CThreadPool::Queue(LPTHREAD_START_ROUTINE function, void* context, ULONG flags)
{
    if (function == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::unique_lock lock(mutex_);
    if (stopping_) {
        SetLastError(ERROR_SHUTDOWN_IN_PROGRESS);
        return FALSE;
    }
    ReapFinished(lock);
    Lane& lane = (flags & WT_EXECUTELONGFUNCTION) != 0 ? long_ : ordinary_;
    lane.items.push_back(Item{function, context});
    // Idle threads may already be claimed by earlier items; start one more
    // whenever the queue outgrows them, as far as the lane allows.
    if (lane.items.size() > lane.idle && lane.threads < lane.maxThreads) {
        try {
            threads_.emplace_back(&CThreadPool::Worker, this, &lane);
            ++lane.threads;
        } catch (...) {
            // No new thread: the item waits for a busy one.
        }
    }
    if (lane.threads == 0) {
        lane.items.pop_back();
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    lane.wake.notify_one();
    return TRUE;
}

void CThreadPool::SetThreadStartHook(ThreadStartHook hook)
{
    std::lock_guard lock(mutex_);
    if (hook != hook_) {
        hook_ = hook;
        ++hookGeneration_;
    }
}

void CThreadPool::Worker(Lane* lane)
{
    std::unique_lock lock(mutex_);
    unsigned hookRun = 0; // the hook generation this thread has run
    for (;;) {
        if (!lane->items.empty()) {
            Item item = lane->items.front();
            lane->items.pop_front();
            const ThreadStartHook hook = hookRun != hookGeneration_ ? hook_ : nullptr;
            hookRun = hookGeneration_;
            lock.unlock();
            try {
                if (hook != nullptr)
                    hook();
            } catch (...) {
            }
            try {
                item.function(item.context);
            } catch (...) {
                // A throwing item must not take the pool with it.
            }
            lock.lock();
            continue;
        }
        if (stopping_)
            break;
        ++lane->idle;
        const bool woken = lane->wake.wait_for(lock, kIdleTimeout,
                                               [&] { return stopping_ || !lane->items.empty(); });
        --lane->idle;
        if (!woken)
            break;
    }
    --lane->threads;
    finished_.push_back(std::this_thread::get_id());
}

void CThreadPool::ReapFinished(std::unique_lock<std::mutex>&)
{
    // A thread on this list has left its loop and given up the lock for good,
    // so joining it here cannot wait on us.
    for (auto id : finished_) {
        auto it = std::find_if(threads_.begin(), threads_.end(), [&](const std::thread& t) { return t.get_id() == id; });
        if (it != threads_.end()) {
            it->join();
            threads_.erase(it);
        }
    }
    finished_.clear();
}

void CThreadPool::Shutdown()
{
    std::vector<std::thread> threads;
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        threads.swap(threads_);
        finished_.clear();
        ordinary_.wake.notify_all();
        long_.wake.notify_all();
    }
    for (auto& t : threads)
        if (t.joinable())
            t.join();
}

CThreadPool& CThreadPool::Default()
{
    // Never destroyed, only shut down at exit: an object that is torn down
    // later and still queues an item is refused instead of touching freed memory.
    static CThreadPool* pool = [] {
        auto* p = new CThreadPool();
        std::atexit([] { Default().Shutdown(); });
        return p;
    }();
    return *pool;
}

BOOL QueueUserWorkItem(LPTHREAD_START_ROUTINE function, void* context, ULONG flags)
{
    return CThreadPool::Default().Queue(function, context, flags);
}
