#pragma once
// The result list of the user-list store's enumerations: a doubly linked
// circular list with a sentinel node and an entry count. Nodes and texts all
// come from the process heap, carved from blocks the list owns and frees
// together: an entry costs no heap call of its own, to make or to free.

#include "platform/win/WinTypes.h"
#include "server/shared/HeapNameEntry.h"

#include <cstddef>
#include <iterator>
#include <string_view>

class HeapNameList {
    struct Links {
        Links* next;
        Links* prev;
    };
    struct Node : Links {
        HeapNameEntry entry;
    };

    template <bool Const>
    class Iterator {
    public:
        using iterator_category = std::bidirectional_iterator_tag;
        using value_type = HeapNameEntry;
        using difference_type = std::ptrdiff_t;
        using pointer = std::conditional_t<Const, const HeapNameEntry*, HeapNameEntry*>;
        using reference = std::conditional_t<Const, const HeapNameEntry&, HeapNameEntry&>;

        Iterator() = default;
        explicit Iterator(Links* at) : at_(at) {}
        reference operator*() const { return static_cast<Node*>(at_)->entry; }
        pointer operator->() const { return &static_cast<Node*>(at_)->entry; }
        Iterator& operator++() { at_ = at_->next; return *this; }
        Iterator operator++(int) { Iterator old = *this; at_ = at_->next; return old; }
        Iterator& operator--() { at_ = at_->prev; return *this; }
        Iterator operator--(int) { Iterator old = *this; at_ = at_->prev; return old; }
        bool operator==(const Iterator& other) const { return at_ == other.at_; }

    private:
        Links* at_ = nullptr;
    };

public:
    using iterator = Iterator<false>;
    using const_iterator = Iterator<true>;

    // Throws std::bad_alloc when the heap has no room for the sentinel.
    HeapNameList();
    ~HeapNameList();
    HeapNameList(const HeapNameList&) = delete;
    HeapNameList& operator=(const HeapNameList&) = delete;

    // Adds an entry at the end; throws std::bad_alloc and leaves the list
    // as it was when the heap refuses.
    void Append(DWORD tag, std::string_view name, std::string_view second = {});
    // Destroys every entry and node and gives the blocks back; the sentinel
    // stays.
    void Clear() noexcept;
    // Moves every entry of other, in order, to the end of this list, with
    // the blocks they live in.
    void Splice(HeapNameList& other) noexcept;
    // Blocks of the process heap the list holds now.
    size_t BlockCount() const noexcept;

    // Stable sort by less (a strict weak order on entries); nodes are
    // relinked, nothing is copied or allocated.
    template <class Less>
    void Sort(Less less);

    DWORD Count() const noexcept { return count_; }
    // Characters of every name and second text together, NULs not counted.
    size_t TextBytes() const noexcept { return textBytes_; }
    bool Empty() const noexcept { return count_ == 0; }

    iterator begin() noexcept { return iterator(sentinel_->next); }
    iterator end() noexcept { return iterator(sentinel_); }
    const_iterator begin() const noexcept { return const_iterator(sentinel_->next); }
    const_iterator end() const noexcept { return const_iterator(sentinel_); }

private:
    struct Block {
        Block* next;
        size_t size;  // bytes after the header
        size_t used;
    };
    void* Allocate(size_t bytes);

    Links* sentinel_;
    DWORD count_ = 0;
    size_t textBytes_ = 0;
    Block* blocks_ = nullptr;  // the newest first; entries are carved from it
};

template <class Less>
void HeapNameList::Sort(Less less)
{
    if (count_ < 2)
        return;
    // Bottom-up merge sort over the chain of next pointers; prev pointers and
    // the ring are rebuilt at the end.
    sentinel_->prev->next = nullptr;
    Links* chain = sentinel_->next;
    auto entryOf = [](Links* l) -> const HeapNameEntry& { return static_cast<Node*>(l)->entry; };
    for (DWORD width = 1; width < count_; width *= 2) {
        Links* merged = nullptr;
        Links** tail = &merged;
        while (chain != nullptr) {
            Links* a = chain;
            Links* b = a;
            for (DWORD i = 1; i < width && b->next != nullptr; ++i)
                b = b->next;
            Links* rest = b->next;
            b->next = nullptr;
            b = rest;
            if (b != nullptr) {
                Links* e = b;
                for (DWORD i = 1; i < width && e->next != nullptr; ++i)
                    e = e->next;
                chain = e->next;
                e->next = nullptr;
            } else {
                chain = nullptr;
            }
            // Ties take from a, the earlier run, which keeps the sort stable.
            while (a != nullptr && b != nullptr) {
                if (less(entryOf(b), entryOf(a))) {
                    *tail = b;
                    b = b->next;
                } else {
                    *tail = a;
                    a = a->next;
                }
                tail = &(*tail)->next;
            }
            *tail = a != nullptr ? a : b;
            while (*tail != nullptr)
                tail = &(*tail)->next;
        }
        chain = merged;
    }
    Links* prev = sentinel_;
    for (Links* l = chain; l != nullptr; l = l->next) {
        prev->next = l;
        l->prev = prev;
        prev = l;
    }
    prev->next = sentinel_;
    sentinel_->prev = prev;
}
