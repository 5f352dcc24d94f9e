#pragma once
// Immediate delivery of pending operations: urgent operations wait in a queue
// ordered by priority, and thread-pool work items ask each one's computer to
// run it at once (call code 801 through the client transport). A failed
// attempt is written into the operation's row and retried, at most five
// attempts in all and each retry at least the retry spacing after the failure
// before it; after that the operation waits for the computer's own poll.

#include "platform/threadpool/ThreadPool.h"
#include "platform/win/Time.h"
#include "server/shared/ComputerList.h"

#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

struct PendingOpWorkRecord {
    char computer[50]; // NUL-terminated, at most 49 characters
    DWORD opId;
    DWORD appId;
    LONG priority;     // the larger first
    LONG attempts;     // failed attempts so far
    FILETIME lastAttempt; // when the last attempt failed, UTC; 0 for a new one
};

class CPendingOpDelivery {
public:
    static constexpr ULONGLONG kRetrySpacing = 300'000'000; // 30 s in 100-ns units
    static constexpr LONG kMaxAttempts = 5;
    static constexpr int kClientPort = 34348;
    static constexpr DWORD kExecutePendingOp = 801;
    static constexpr DWORD kQueueWaitMs = 3000; // when queuing a new operation
    static constexpr DWORD kWorkWaitMs = 5000;  // inside a work item

    using QueueFunction = std::function<BOOL(LPTHREAD_START_ROUTINE, void*, ULONG)>;

    // The store reads computers' addresses and records failures; it must
    // outlive this object.
    explicit CPendingOpDelivery(IComputerList* store);
    // Stops: see Stop.
    ~CPendingOpDelivery();
    CPendingOpDelivery(const CPendingOpDelivery&) = delete;
    CPendingOpDelivery& operator=(const CPendingOpDelivery&) = delete;

    // Queues an operation and one work item for it. An operation that cannot
    // be queued in time stays stored, for the computer's own poll.
    void Enqueue(const char* computer, DWORD opId, DWORD appId, LONG priority);

    // Drops what is queued, wakes work items waiting for their retry time and
    // returns when none of this object's work items is queued or running.
    // Afterwards nothing is queued any more.
    void Stop();

    // For tests: a shorter retry spacing, and a queue function that holds
    // work items back (the default queues them on the process-wide pool).
    void SetRetrySpacing(ULONGLONG ticks);
    void SetQueueFunction(QueueFunction queue);

    // The work item; context is this object.
    static DWORD WorkItem(void* context);

private:
    void Deliver();
    HRESULT Attempt(const PendingOpWorkRecord& record);
    std::string HostOf(const char* computer);
    void QueueWorkItem();
    void Push(const PendingOpWorkRecord& record);
    // Waits up to the given time for the retry; false when stopped meanwhile.
    bool WaitForRetry(ULONGLONG ticks);

    IComputerList* store_;
    std::timed_mutex queueMutex_;
    std::vector<PendingOpWorkRecord> heap_;

    std::mutex stateMutex_;
    std::condition_variable stateChanged_;
    int outstanding_ = 0; // work items queued or running
    bool stopping_ = false;
    ULONGLONG retrySpacing_ = kRetrySpacing;
    QueueFunction queue_;
};
