#pragma once
// A growable byte buffer that does not clear what it allocates: stub data of
// tens of megabytes pass through it, and zero-filling them first would cost
// as much as copying them.

#include "platform/win/WinTypes.h"

#include <cstddef>
#include <span>

class CRpcBuffer {
public:
    CRpcBuffer() = default;
    ~CRpcBuffer();
    CRpcBuffer(CRpcBuffer&& other) noexcept;
    CRpcBuffer& operator=(CRpcBuffer&& other) noexcept;
    CRpcBuffer(const CRpcBuffer&) = delete;
    CRpcBuffer& operator=(const CRpcBuffer&) = delete;

    BYTE* Data() { return data_; }
    const BYTE* Data() const { return data_; }
    size_t Size() const { return size_; }
    size_t Capacity() const { return capacity_; }
    bool Empty() const { return size_ == 0; }
    std::span<const BYTE> View() const { return {data_, size_}; }

    // Grows the capacity to at least n; throws std::bad_alloc when it can't.
    void Reserve(size_t n);
    // Sets the size; new bytes are uninitialised.
    void Resize(size_t n);
    // Appends n uninitialised bytes and returns where they start.
    BYTE* Grow(size_t n);
    void Append(const void* p, size_t n);
    void Clear() { size_ = 0; }
    // Drops the allocation when it is larger than keep, so an idle owner does
    // not hold on to the memory of its largest message.
    void Trim(size_t keep);

private:
    BYTE* data_ = nullptr;
    size_t size_ = 0;
    size_t capacity_ = 0;
};
