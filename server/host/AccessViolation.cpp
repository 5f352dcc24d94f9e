#include "server/host/AccessViolation.h"

namespace TQC {

access_violation::access_violation(const char* message, DWORD code, const EXCEPTION_POINTERS* pointers)
    : win32_exception(message, code, pointers)
{
    SetCode(EXCEPTION_ACCESS_VIOLATION);
}

} // namespace TQC
