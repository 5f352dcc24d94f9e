#pragma once
// Loading code modules at run time: shared objects through the dynamic
// loader, each loaded with its own symbols kept to itself.

#include "platform/win/WinTypes.h"

struct ModuleInstance;
using HMODULE = ModuleInstance*;
using FARPROC = void (*)();

// Null on failure, with ERROR_MOD_NOT_FOUND as the last error and the
// loader's reason written to the debug output.
HMODULE LoadLibraryA(const char* path);
// Null, with ERROR_PROC_NOT_FOUND, when the module exports no such name.
FARPROC GetProcAddress(HMODULE module, const char* name);
// FALSE for a null module.
BOOL FreeLibrary(HMODULE module);
