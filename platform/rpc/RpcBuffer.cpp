#include "platform/rpc/RpcBuffer.h"

#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

CRpcBuffer::~CRpcBuffer()
{
    std::free(data_);
}

CRpcBuffer::CRpcBuffer(CRpcBuffer&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)),
      size_(std::exchange(other.size_, 0)),
      capacity_(std::exchange(other.capacity_, 0))
{
}

CRpcBuffer& CRpcBuffer::operator=(CRpcBuffer&& other) noexcept
{
    if (this != &other) {
        std::free(data_);
        data_ = std::exchange(other.data_, nullptr);
        size_ = std::exchange(other.size_, 0);
        capacity_ = std::exchange(other.capacity_, 0);
    }
    return *this;
}

void CRpcBuffer::Reserve(size_t n)
{
    if (n <= capacity_)
        return;
    // realloc of large blocks remaps pages instead of copying them.
    void* p = std::realloc(data_, n);
    if (p == nullptr)
        throw std::bad_alloc();
    data_ = static_cast<BYTE*>(p);
    capacity_ = n;
}

void CRpcBuffer::Resize(size_t n)
{
    if (n > capacity_) {
        size_t grown = capacity_ < 64 ? 64 : capacity_ + capacity_ / 2;
        Reserve(n > grown ? n : grown);
    }
    size_ = n;
}

BYTE* CRpcBuffer::Grow(size_t n)
{
    size_t at = size_;
    Resize(size_ + n);
    return data_ + at;
}

void CRpcBuffer::Append(const void* p, size_t n)
{
    if (n != 0)
        std::memcpy(Grow(n), p, n);
}

void CRpcBuffer::Trim(size_t keep)
{
    if (capacity_ <= keep)
        return;
    std::free(data_);
    data_ = nullptr;
    size_ = 0;
    capacity_ = 0;
}
