#pragma once
// The process heap: one heap for the whole process, over the C allocator, so
// a block taken by one module can be released by another.

#include "platform/win/WinTypes.h"

#include <cstddef>

using HANDLE = void*;

constexpr DWORD HEAP_ZERO_MEMORY = 0x00000008;

HANDLE GetProcessHeap();

// Null when the heap is not the process heap or the memory is not there.
void* HeapAlloc(HANDLE heap, DWORD flags, size_t bytes);

// TRUE also for a null block; FALSE for a heap that is not the process heap.
BOOL HeapFree(HANDLE heap, DWORD flags, void* block);

// Freed memory stays with the allocator for later allocations until more
// than trimThreshold bytes lie free at the top, instead of going back to the
// system at once; blocks of mapThreshold bytes or more still get pages of
// their own.
void KeepFreedMemoryForReuse(size_t mapThreshold, size_t trimThreshold);

// Hands the memory that lies free in the allocator back to the system now,
// after a large release (the allocator keeps it otherwise).
void ReturnFreedMemoryToSystem();
