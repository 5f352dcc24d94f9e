#pragma once
// The records a window has received and not shown yet, in arrival order.
// Both sides wait at most 2000 ms for the lock; the size can be read without it.
// The reader sleeps in Wait while it has nothing to do, so an idle window
// costs no processor time.

#include <atomic>
#include <condition_variable>
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

    // Returns once Wake was called since the last return, or, with
    // forRecords, once a record waits; at once when either already holds.
    void Wait(bool forRecords);
    // Ends the reader's current or next Wait; any thread.
    void Wake();

private:
    std::timed_mutex lock_;
    std::condition_variable_any changed_;
    std::deque<std::string> texts_;
    bool woken_ = false;
    std::atomic<size_t> size_{0};
};
