#pragma once
// A standard allocator over the process heap, so that containers and strings
// of name lists never touch the ordinary free store.

#include "platform/win/Heap.h"

#include <cstddef>
#include <new>
#include <string>

template <class T>
class ProcessHeapAllocator {
public:
    using value_type = T;

    ProcessHeapAllocator() noexcept = default;
    template <class U>
    ProcessHeapAllocator(const ProcessHeapAllocator<U>&) noexcept {}

    T* allocate(std::size_t n)
    {
        if (n > static_cast<std::size_t>(-1) / sizeof(T))
            throw std::bad_array_new_length();
        void* p = HeapAlloc(GetProcessHeap(), 0, n * sizeof(T));
        if (p == nullptr)
            throw std::bad_alloc();
        return static_cast<T*>(p);
    }

    void deallocate(T* p, std::size_t) noexcept { HeapFree(GetProcessHeap(), 0, p); }

    template <class U>
    bool operator==(const ProcessHeapAllocator<U>&) const noexcept { return true; }
};

// Narrow text whose characters live on the process heap.
using HeapString = std::basic_string<char, std::char_traits<char>, ProcessHeapAllocator<char>>;
