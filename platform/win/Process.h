#pragma once
// Process and thread facts the system asks of the platform.

#include "platform/win/WinTypes.h"

#include <string>

// The kernel's id of the calling thread.
DWORD GetCurrentThreadId();
DWORD GetCurrentProcessId();

// Full path of the running program file.
std::string GetModuleFileName();

// The program file's folder, without a trailing separator.
std::string GetModuleFolder();

// Sleeps for the given milliseconds.
void Sleep(DWORD milliseconds);

// Milliseconds of a monotonic clock.
ULONGLONG GetTickCount64();

// Ends the process at once with the given status: no destructors, no exit
// handlers, other threads stopped where they are.
[[noreturn]] void TerminateCurrentProcess(UINT exitCode);
