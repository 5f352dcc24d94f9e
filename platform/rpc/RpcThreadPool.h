#pragma once
// The call threads: a pool that grows by one thread whenever work arrives and
// no thread is idle, and lets threads that stay idle for a while end. Work
// items are long (a connection's whole life), so a thread is never made to
// wait for another's item.

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <list>
#include <mutex>
#include <thread>
#include <vector>

class CRpcThreadPool {
public:
    using Hook = std::function<void()>;

    // onThreadStart runs first on every thread the pool starts.
    explicit CRpcThreadPool(Hook onThreadStart = {}, unsigned keepThreads = 1,
                            std::chrono::milliseconds idleExit = std::chrono::seconds(60));
    // Waits for the running items and ends every thread; queued items that
    // no thread took are dropped.
    ~CRpcThreadPool();
    CRpcThreadPool(const CRpcThreadPool&) = delete;
    CRpcThreadPool& operator=(const CRpcThreadPool&) = delete;

    // Runs the item on an idle thread, or on a new one. False when no thread
    // could be started and none is idle.
    bool Submit(std::function<void()> item);

    size_t ThreadCount() const;
    size_t IdleCount() const;

private:
    void Worker();
    void JoinFinished();

    Hook onThreadStart_;
    unsigned keepThreads_;
    std::chrono::milliseconds idleExit_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable ended_;
    std::deque<std::function<void()>> queue_;
    std::list<std::thread> threads_;
    std::vector<std::thread> finished_;  // ended, to be joined
    size_t idle_ = 0;
    bool stopping_ = false;
};
