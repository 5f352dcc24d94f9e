#include "server/host/StackOverflow.h"

namespace TQC {

stack_overflow::stack_overflow(const char* message, DWORD code, const EXCEPTION_POINTERS* pointers)
    : win32_exception(message, code, pointers)
{
    SetCode(EXCEPTION_STACK_OVERFLOW);
}

} // namespace TQC
