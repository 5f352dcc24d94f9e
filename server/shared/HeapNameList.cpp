#include "server/shared/HeapNameList.h"

#include "platform/win/Heap.h"

#include <new>

HeapNameList::HeapNameList()
{
    void* block = HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(Links));
    if (block == nullptr)
        throw std::bad_alloc();
    sentinel_ = new (block) Links{};
    sentinel_->next = sentinel_;
    sentinel_->prev = sentinel_;
}

HeapNameList::~HeapNameList()
{
    Clear();
    HeapFree(GetProcessHeap(), 0, sentinel_);
}

void HeapNameList::Append(DWORD tag, std::string_view name, std::string_view second)
{
    void* block = HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(Node));
    if (block == nullptr)
        throw std::bad_alloc();
    Node* node;
    try {
        node = new (block) Node{{nullptr, nullptr}, {tag, HeapString(name), HeapString(second)}};
    } catch (...) {
        HeapFree(GetProcessHeap(), 0, block);
        throw;
    }
    node->prev = sentinel_->prev;
    node->next = sentinel_;
    sentinel_->prev->next = node;
    sentinel_->prev = node;
    ++count_;
}

void HeapNameList::Clear() noexcept
{
    Links* at = sentinel_->next;
    while (at != sentinel_) {
        Links* next = at->next;
        Node* node = static_cast<Node*>(at);
        node->~Node();
        HeapFree(GetProcessHeap(), 0, node);
        at = next;
    }
    sentinel_->next = sentinel_;
    sentinel_->prev = sentinel_;
    count_ = 0;
}

void HeapNameList::Splice(HeapNameList& other) noexcept
{
    if (&other == this || other.count_ == 0)
        return;
    Links* first = other.sentinel_->next;
    Links* last = other.sentinel_->prev;
    first->prev = sentinel_->prev;
    sentinel_->prev->next = first;
    last->next = sentinel_;
    sentinel_->prev = last;
    count_ += other.count_;
    other.sentinel_->next = other.sentinel_;
    other.sentinel_->prev = other.sentinel_;
    other.count_ = 0;
}
