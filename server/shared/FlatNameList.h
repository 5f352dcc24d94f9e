#pragma once
// The byte form in which a name list travels to a client: a u32 count, then
// per entry a u32 tag, the u32 size and bytes of the name with its NUL, and
// the u32 size and bytes of the second text with its NUL; little-endian, no
// padding.

#include "platform/win/WinTypes.h"
#include "server/shared/HeapNameList.h"

#include <cstddef>

struct FlatNameList {
    static constexpr size_t kCountSize = 4;
    // Tag, two sizes and two NULs.
    static constexpr size_t kEntryOverhead = 14;

    // Bytes of the flat form of list.
    static size_t SizeOf(const HeapNameList& list);
};

// Builds the flat form in one array-new block that the receiver frees with
// FreeFlatBuffer. S_OK; E_OUTOFMEMORY when the memory is not there (or the
// form would not fit its u32 sizes); E_UNEXPECTED for any other exception;
// E_INVALIDARG for a null out-pointer. On failure neither out-value is set.
HRESULT FlattenNameList(const HeapNameList& list, BYTE** buffer, DWORD* length);

// Releases a buffer of FlattenNameList; a null buffer is accepted.
HRESULT FreeFlatBuffer(BYTE* buffer);
