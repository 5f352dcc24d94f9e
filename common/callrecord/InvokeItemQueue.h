#pragma once
// The FIFO of one side of a call record. Most calls carry a handful of
// items, so the first few are held in place and a record costs no allocation
// for its queues; more move to one growing block. Popping advances a read
// index, and a queue that runs empty starts again at the front.

#include "platform/win/WinTypes.h"

#include <cstddef>

class IInvokeItemSource;

struct InvokeItem {
    DWORD type = 0;
    DWORD length = 0;
    BYTE* data = nullptr; // length bytes, owned by the record
    // Set, with data null, for an item whose bytes are read from here when
    // needed (owned by the record too).
    IInvokeItemSource* source = nullptr;
};

class CInvokeItemQueue {
public:
    static constexpr size_t kInPlace = 4;

    CInvokeItemQueue() = default;
    ~CInvokeItemQueue();
    CInvokeItemQueue(const CInvokeItemQueue&) = delete;
    CInvokeItemQueue& operator=(const CInvokeItemQueue&) = delete;

    size_t size() const { return end_ - head_; }
    bool empty() const { return end_ == head_; }
    // Capacity left at the back without moving or growing.
    size_t capacity() const { return capacity_; }

    const InvokeItem& front() const { return items_[head_]; }
    InvokeItem& front() { return items_[head_]; }
    const InvokeItem& back() const { return items_[end_ - 1]; }
    const InvokeItem& operator[](size_t i) const { return items_[head_ + i]; }

    const InvokeItem* begin() const { return items_ + head_; }
    const InvokeItem* end() const { return items_ + end_; }
    InvokeItem* begin() { return items_ + head_; }
    InvokeItem* end() { return items_ + end_; }

    // Makes room for n items in all, so that as many pushes cannot throw.
    void reserve(size_t n);
    // Throws std::bad_alloc when the queue must grow and cannot.
    void push_back(const InvokeItem& item);
    void pop_front();
    // Forgets the items (their data is the record's to free); the block stays.
    void clear() { head_ = end_ = 0; }

private:
    void Grow(size_t needed);

    InvokeItem inPlace_[kInPlace];
    InvokeItem* items_ = inPlace_;
    size_t head_ = 0;
    size_t end_ = 0;
    size_t capacity_ = kInPlace;
};
