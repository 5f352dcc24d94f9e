#include "server/shared/FlatNameList.h"

#include "platform/win/LittleEndian.h"

#include <cstring>
#include <limits>
#include <new>

namespace {

BYTE* PutText(BYTE* at, const HeapText& text)
{
    at = WriteLittleEndian32(at, static_cast<DWORD>(text.size() + 1));
    std::memcpy(at, text.data(), text.size());
    at[text.size()] = 0;
    return at + text.size() + 1;
}

} // namespace

size_t FlatNameList::SizeOf(const HeapNameList& list)
{
    // The list keeps its text total, so a hundred thousand entries need not
    // be walked twice.
    return kCountSize + list.TextBytes() + size_t(list.Count()) * kEntryOverhead;
}

HRESULT FlattenNameList(const HeapNameList& list, BYTE** buffer, DWORD* length)
{
    if (buffer == nullptr || length == nullptr)
        return E_INVALIDARG;
    try {
        size_t size = FlatNameList::SizeOf(list);
        if (size > std::numeric_limits<DWORD>::max())
            return E_OUTOFMEMORY;
        BYTE* flat = new BYTE[size];
        BYTE* at = WriteLittleEndian32(flat, list.Count());
        for (const HeapNameEntry& e : list) {
            at = WriteLittleEndian32(at, e.tag);
            at = PutText(at, e.name);
            at = PutText(at, e.second);
        }
        *buffer = flat;
        *length = static_cast<DWORD>(size);
        return S_OK;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

HRESULT FreeFlatBuffer(BYTE* buffer)
{
    delete[] buffer;
    return S_OK;
}
