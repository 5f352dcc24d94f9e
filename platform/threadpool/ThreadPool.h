#pragma once
// A pool of worker threads for short callbacks, and the process-wide pool
// behind QueueUserWorkItem.
//
// Items run in two lanes. Ordinary items share a small number of threads
// (one per processor, at least two). Items queued with WT_EXECUTELONGFUNCTION
// may block for a long time, so each gets a thread of its own (reusing an
// idle one, up to a high cap) and never holds up ordinary items or each
// other. Idle threads end after a while.
//
// At the end of the pool (for the process-wide one: at process end) no new
// item is accepted, every queued item still runs, and every thread is joined.

#include "platform/win/WinTypes.h"

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

using LPTHREAD_START_ROUTINE = DWORD (*)(void* context);
using ThreadStartHook = void (*)();

constexpr ULONG WT_EXECUTEDEFAULT = 0x00;
constexpr ULONG WT_EXECUTELONGFUNCTION = 0x10;

class CThreadPool {
public:
    // 0 threads for ordinary items means one per processor, at least two.
    explicit CThreadPool(unsigned ordinaryThreads = 0, unsigned longThreads = 512);
    ~CThreadPool();
    CThreadPool(const CThreadPool&) = delete;
    CThreadPool& operator=(const CThreadPool&) = delete;

    // FALSE with ERROR_SHUTDOWN_IN_PROGRESS once Shutdown has begun, or
    // ERROR_INVALID_PARAMETER for a null function.
    BOOL Queue(LPTHREAD_START_ROUTINE function, void* context, ULONG flags);

    // A routine every pool thread runs once before it runs items (a per-thread
    // fault handler, for instance): threads started later run it first, threads
    // already running before their next item. Setting the same hook again
    // changes nothing; null removes it. A hook that throws is ignored.
    void SetThreadStartHook(ThreadStartHook hook);

    // Refuses new items, lets the queued ones run, joins every thread. Must not
    // be called from one of the pool's own items. Idempotent.
    void Shutdown();

    // The process-wide pool; made on first use and ended at process end.
    static CThreadPool& Default();

private:
    struct Item {
        LPTHREAD_START_ROUTINE function;
        void* context;
    };
    struct Lane {
        std::deque<Item> items;
        unsigned maxThreads = 0;
        unsigned threads = 0;
        unsigned idle = 0;
        std::condition_variable wake;
    };

    void Worker(Lane* lane);
    void ReapFinished(std::unique_lock<std::mutex>& lock);

    std::mutex mutex_;
    Lane ordinary_;
    Lane long_;
    bool stopping_ = false;
    ThreadStartHook hook_ = nullptr;
    unsigned hookGeneration_ = 0; // counts hook changes; a thread runs each one once
    std::vector<std::thread> threads_;
    std::vector<std::thread::id> finished_;
};

// Queues the function on the process-wide pool.
BOOL QueueUserWorkItem(LPTHREAD_START_ROUTINE function, void* context, ULONG flags);
