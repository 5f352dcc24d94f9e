#pragma once
// The records a window has received and not shown yet, in arrival order.
// Both sides wait at most 2000 ms for the lock; the size can be read without it.

#include <atomic>
#include <deque>
#include <mutex>
#include <string>

class CActivityQueue {
public:
    static constexpr int kLockMs = 2000;

    // False when the lock was not obtained in time: the record is lost.
    bool Push(std::string text);
    // Moves every queued record, oldest first, to the end of *texts under one
    // lock, so the reader does not contend with the pipe thread per record.
    // False when the queue was empty or the lock not obtained.
    bool TakeAll(std::deque<std::string>* texts);
    size_t Size() const { return size_; }
    void Clear();

private:
    std::timed_mutex lock_;
    std::deque<std::string> texts_;
    std::atomic<size_t> size_{0};
};
