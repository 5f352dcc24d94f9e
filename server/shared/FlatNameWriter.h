#pragma once
// A name list written straight in its flat form (FlatNameList.h) as the
// entries come, for an enumeration that goes to a reply as it is: no entry is
// kept apart first and walked again, and the block is handed over, not
// copied.

#include "platform/win/WinTypes.h"

#include <cstddef>
#include <string_view>

class FlatNameWriter {
public:
    // Nothing is allocated until the first entry or the hand-over; the
    // first block then takes at least firstBlock bytes, so that a list about
    // as long as one seen before is written without growing.
    explicit FlatNameWriter(size_t firstBlock = 0) : firstBlock_(firstBlock) {}
    ~FlatNameWriter();
    FlatNameWriter(const FlatNameWriter&) = delete;
    FlatNameWriter& operator=(const FlatNameWriter&) = delete;

    // Adds an entry at the end; throws std::bad_alloc and leaves the writer
    // as it was when the memory is not there or the form would outgrow its
    // u32 sizes.
    void Append(DWORD tag, std::string_view name, std::string_view second = {});
    // No entries; the block is kept for the next ones.
    void Clear() noexcept;

    DWORD Count() const noexcept { return count_; }
    // Bytes of the flat form so far, the count included.
    size_t Size() const noexcept;

    // Hands the flat form over in an array-new block of at least *length
    // bytes that the receiver frees with FreeFlatBuffer; the writer is empty
    // afterwards. S_OK; E_OUTOFMEMORY when even the count has no room (the
    // writer is left as it was); E_INVALIDARG for a null out-pointer. On
    // failure neither out-value is set.
    HRESULT Release(BYTE** buffer, DWORD* length);

private:
    // A larger block with room for bytes more, or std::bad_alloc with
    // nothing changed.
    void Grow(size_t bytes);

    BYTE* block_ = nullptr;  // the count's place first, then the entries
    size_t capacity_ = 0;
    size_t used_ = 0;        // 0 until the block exists, then at least the count
    DWORD count_ = 0;
    size_t firstBlock_;
};
