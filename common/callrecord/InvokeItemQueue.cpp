#include "common/callrecord/InvokeItemQueue.h"

#include <algorithm>

CInvokeItemQueue::~CInvokeItemQueue()
{
    if (items_ != inPlace_)
        delete[] items_;
}

void CInvokeItemQueue::Grow(size_t needed)
{
    const size_t held = size();
    if (needed <= capacity_) {
        // Room enough once the popped items' places are reused.
        std::copy(items_ + head_, items_ + end_, items_);
    } else {
        const size_t capacity = std::max(needed, capacity_ * 2);
        InvokeItem* grown = new InvokeItem[capacity];
        std::copy(items_ + head_, items_ + end_, grown);
        if (items_ != inPlace_)
            delete[] items_;
        items_ = grown;
        capacity_ = capacity;
    }
    head_ = 0;
    end_ = held;
}

void CInvokeItemQueue::reserve(size_t n)
{
    if (capacity_ - head_ < n)
        Grow(n);
}

void CInvokeItemQueue::push_back(const InvokeItem& item)
{
    if (end_ == capacity_)
        // A queue read about as fast as it is filled slides down; one that
        // holds half its block or more doubles it.
        Grow(size() < capacity_ / 2 ? size() + 1 : capacity_ + 1);
    items_[end_++] = item;
}

void CInvokeItemQueue::pop_front()
{
    if (++head_ == end_)
        head_ = end_ = 0;
}
