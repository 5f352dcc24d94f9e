#include "server/host/ExceptionTranslator.h"

#include "server/host/AccessViolation.h"
#include "server/host/StackOverflow.h"

void TranslateStructuredException(unsigned int code, EXCEPTION_POINTERS* pointers)
{
    switch (code) {
    case EXCEPTION_ACCESS_VIOLATION:
        throw TQC::access_violation("Invalid access to memory location", code, pointers);
    case EXCEPTION_STACK_OVERFLOW:
        throw TQC::stack_overflow("Recursion too deep; the stack overflowed", code, pointers);
    default:
        throw TQC::win32_exception("Windows structured exception", code, pointers);
    }
}

void InstallStructuredExceptionTranslator()
{
    SetStructuredExceptionTranslator(TranslateStructuredException);
}
