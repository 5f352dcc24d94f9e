#include "server/shared/FlatNameWriter.h"

#include "platform/win/LittleEndian.h"
#include "server/shared/FlatNameList.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>
#include <new>

namespace {

constexpr size_t kFirstBlock = 4096;
constexpr size_t kLargest = std::numeric_limits<DWORD>::max();

// Three words an entry: one store each where the processor's order is the
// form's.
BYTE* PutWord(BYTE* at, DWORD value)
{
    if constexpr (std::endian::native == std::endian::little) {
        std::memcpy(at, &value, sizeof value);
        return at + sizeof value;
    } else {
        return WriteLittleEndian32(at, value);
    }
}

BYTE* PutText(BYTE* at, std::string_view text)
{
    at = PutWord(at, static_cast<DWORD>(text.size() + 1));
    if (!text.empty())
        std::memcpy(at, text.data(), text.size());
    at[text.size()] = 0;
    return at + text.size() + 1;
}

} // namespace

FlatNameWriter::~FlatNameWriter()
{
    delete[] block_;
}

size_t FlatNameWriter::Size() const noexcept
{
    return block_ == nullptr ? FlatNameList::kCountSize : used_;
}

void FlatNameWriter::Grow(size_t bytes)
{
    const size_t used = Size();
    if (bytes > kLargest - used)
        throw std::bad_alloc();
    // Doubling keeps the copies of a growing list to about its own size.
    size_t capacity = std::max({capacity_ * 2, kFirstBlock, firstBlock_});
    capacity = std::min(std::max(capacity, used + bytes), kLargest);
    BYTE* grown = new BYTE[capacity];
    if (block_ != nullptr)
        std::memcpy(grown, block_, used_);
    delete[] block_;
    block_ = grown;
    capacity_ = capacity;
    used_ = used;
}

void FlatNameWriter::Append(DWORD tag, std::string_view name, std::string_view second)
{
    // The block never outgrows the u32 range, so an entry that fits it
    // keeps the form within its sizes.
    const size_t bytes = FlatNameList::kEntryOverhead + name.size() + second.size();
    if (block_ == nullptr || capacity_ - used_ < bytes)
        Grow(bytes);
    BYTE* at = PutWord(block_ + used_, tag);
    at = PutText(at, name);
    at = PutText(at, second);
    used_ = static_cast<size_t>(at - block_);
    ++count_;
}

void FlatNameWriter::Clear() noexcept
{
    if (block_ != nullptr)
        used_ = FlatNameList::kCountSize;
    count_ = 0;
}

HRESULT FlatNameWriter::Release(BYTE** buffer, DWORD* length)
{
    if (buffer == nullptr || length == nullptr)
        return E_INVALIDARG;
    if (block_ == nullptr) {
        // Only the count: no block of a list's size for an empty one.
        block_ = new (std::nothrow) BYTE[FlatNameList::kCountSize];
        if (block_ == nullptr)
            return E_OUTOFMEMORY;
        capacity_ = used_ = FlatNameList::kCountSize;
    }
    PutWord(block_, count_);
    *buffer = block_;
    *length = static_cast<DWORD>(used_);
    block_ = nullptr;
    capacity_ = 0;
    used_ = 0;
    count_ = 0;
    return S_OK;
}
