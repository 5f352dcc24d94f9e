#pragma once
// Turns processor faults into the TQC exception classes, so that the
// catch-all at the end of every call path answers a fault like any other
// failure and the thread goes on serving.

#include "platform/seh/StructuredException.h"

// Throws TQC::access_violation, TQC::stack_overflow or TQC::win32_exception.
[[noreturn]] void TranslateStructuredException(unsigned int code, EXCEPTION_POINTERS* pointers);

// Installs the translator on the calling thread. Every thread that runs
// calls (the program's main thread, RPC call threads, thread-pool work
// items) calls it before its first call; calling it again is cheap.
void InstallStructuredExceptionTranslator();
