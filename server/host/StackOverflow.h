#pragma once
// A thread ran off the end of its stack.

#include "server/host/Win32Exception.h"

namespace TQC {

class stack_overflow : public win32_exception {
public:
    stack_overflow(const char* message, DWORD code, const EXCEPTION_POINTERS* pointers);
};

} // namespace TQC
