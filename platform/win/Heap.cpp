#include "platform/win/Heap.h"

#include <cstdlib>
#include <malloc.h>

namespace {
// Its address is the handle; the heap itself has no state of its own.
char processHeap;
} // namespace

HANDLE GetProcessHeap()
{
    return &processHeap;
}

void* HeapAlloc(HANDLE heap, DWORD flags, size_t bytes)
{
    if (heap != &processHeap)
        return nullptr;
    // A zero-byte request still gets a block of its own, as the platform's does.
    size_t n = bytes == 0 ? 1 : bytes;
    return (flags & HEAP_ZERO_MEMORY) != 0 ? std::calloc(1, n) : std::malloc(n);
}

BOOL HeapFree(HANDLE heap, DWORD, void* block)
{
    if (heap != &processHeap)
        return FALSE;
    std::free(block);
    return TRUE;
}

void ReturnFreedMemoryToSystem()
{
    ::malloc_trim(0);
}

void KeepFreedMemoryForReuse(size_t mapThreshold, size_t trimThreshold)
{
    ::mallopt(M_MMAP_THRESHOLD, static_cast<int>(mapThreshold));
    ::mallopt(M_TRIM_THRESHOLD, static_cast<int>(trimThreshold));
}
