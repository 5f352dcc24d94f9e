#pragma once
// A read, write or execution at an address the process may not touch.

#include "server/host/Win32Exception.h"

namespace TQC {

class access_violation : public win32_exception {
public:
    access_violation(const char* message, DWORD code, const EXCEPTION_POINTERS* pointers);
};

} // namespace TQC
