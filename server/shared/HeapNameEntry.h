#pragma once
// One entry of a user-list enumeration: a tag whose meaning is the
// enumeration's, a name, and a second text (a directory path, or empty).

#include "platform/win/WinTypes.h"
#include "server/shared/ProcessHeapAllocator.h"

struct HeapNameEntry {
    DWORD tag = 0;
    HeapString name;
    HeapString second;
};
