#include "server/shared/HeapNameList.h"

#include "platform/win/Heap.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace {

constexpr size_t kFirstBlock = 4096;
constexpr size_t kLargestBlock = size_t(1) << 20;
constexpr size_t kAlign = alignof(void*);

size_t Aligned(size_t n)
{
    return (n + kAlign - 1) & ~(kAlign - 1);
}

} // namespace

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

void* HeapNameList::Allocate(size_t bytes)
{
    bytes = Aligned(bytes);
    if (blocks_ == nullptr || blocks_->size - blocks_->used < bytes) {
        // Each block twice the last, up to a size that keeps the waste small.
        size_t size = blocks_ == nullptr ? kFirstBlock : std::min(blocks_->size * 2, kLargestBlock);
        size = std::max(size, bytes);
        // Not zeroed: every byte an entry uses is written by Append.
        void* memory = HeapAlloc(GetProcessHeap(), 0, Aligned(sizeof(Block)) + size);
        if (memory == nullptr)
            throw std::bad_alloc();
        blocks_ = new (memory) Block{blocks_, size, 0};
    }
    BYTE* at = reinterpret_cast<BYTE*>(blocks_) + Aligned(sizeof(Block)) + blocks_->used;
    blocks_->used += bytes;
    return at;
}

void HeapNameList::Append(DWORD tag, std::string_view name, std::string_view second)
{
    // The node and both texts, with their NULs, in one piece; an empty
    // second text shares the name's NUL.
    const size_t nodeBytes = Aligned(sizeof(Node));
    const size_t secondBytes = second.empty() ? 0 : second.size() + 1;
    BYTE* at = static_cast<BYTE*>(Allocate(nodeBytes + name.size() + 1 + secondBytes));
    char* nameAt = reinterpret_cast<char*>(at + nodeBytes);
    char* secondAt = second.empty() ? nameAt + name.size() : nameAt + name.size() + 1;
    if (!name.empty())
        std::memcpy(nameAt, name.data(), name.size());
    nameAt[name.size()] = 0;
    if (!second.empty()) {
        std::memcpy(secondAt, second.data(), second.size());
        secondAt[second.size()] = 0;
    }
    Node* node = new (at) Node{{nullptr, nullptr}, {tag, HeapText(nameAt, name.size()), HeapText(secondAt, second.size())}};
    node->prev = sentinel_->prev;
    node->next = sentinel_;
    sentinel_->prev->next = node;
    sentinel_->prev = node;
    ++count_;
    textBytes_ += name.size() + second.size();
}

void HeapNameList::Clear() noexcept
{
    // Entries hold nothing of their own: their blocks go back whole.
    while (blocks_ != nullptr) {
        Block* next = blocks_->next;
        HeapFree(GetProcessHeap(), 0, blocks_);
        blocks_ = next;
    }
    sentinel_->next = sentinel_;
    sentinel_->prev = sentinel_;
    count_ = 0;
    textBytes_ = 0;
}

void HeapNameList::Splice(HeapNameList& other) noexcept
{
    if (&other == this || other.blocks_ == nullptr)
        return;
    if (other.count_ != 0) {
        Links* first = other.sentinel_->next;
        Links* last = other.sentinel_->prev;
        first->prev = sentinel_->prev;
        sentinel_->prev->next = first;
        last->next = sentinel_;
        sentinel_->prev = last;
        count_ += other.count_;
        textBytes_ += other.textBytes_;
    }
    // Other's blocks come along, behind the newest of this list so that new
    // entries keep filling it.
    Block* tail = other.blocks_;
    while (tail->next != nullptr)
        tail = tail->next;
    if (blocks_ == nullptr) {
        blocks_ = other.blocks_;
    } else {
        tail->next = blocks_->next;
        blocks_->next = other.blocks_;
    }
    other.blocks_ = nullptr;
    other.sentinel_->next = other.sentinel_;
    other.sentinel_->prev = other.sentinel_;
    other.count_ = 0;
    other.textBytes_ = 0;
}

size_t HeapNameList::BlockCount() const noexcept
{
    size_t n = 0;
    for (const Block* b = blocks_; b != nullptr; b = b->next)
        ++n;
    return n;
}
