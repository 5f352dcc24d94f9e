#pragma once
// Processor faults as structured exceptions: the exception record, the
// processor context and a per-thread translator that may turn a fault into a
// language exception. On Linux the faults arrive as synchronous signals
// (SIGSEGV, SIGBUS, SIGFPE, SIGILL); the handler runs on an alternate signal
// stack, so a stack overflow reaches the translator too.
//
// A translator that throws leaves the signal handler by unwinding, which only
// works when the code that faulted was compiled with -fnon-call-exceptions;
// every target that links this library is.

#include "platform/win/WinTypes.h"

#include <cstdint>

using ULONG_PTR = std::uintptr_t;
using DWORD64 = std::uint64_t;

constexpr DWORD EXCEPTION_ACCESS_VIOLATION = 0xC0000005u;
constexpr DWORD EXCEPTION_ILLEGAL_INSTRUCTION = 0xC000001Du;
constexpr DWORD EXCEPTION_FLT_DENORMAL_OPERAND = 0xC000008Du;
constexpr DWORD EXCEPTION_FLT_DIVIDE_BY_ZERO = 0xC000008Eu;
constexpr DWORD EXCEPTION_FLT_INEXACT_RESULT = 0xC000008Fu;
constexpr DWORD EXCEPTION_FLT_INVALID_OPERATION = 0xC0000090u;
constexpr DWORD EXCEPTION_FLT_OVERFLOW = 0xC0000091u;
constexpr DWORD EXCEPTION_FLT_UNDERFLOW = 0xC0000093u;
constexpr DWORD EXCEPTION_INT_DIVIDE_BY_ZERO = 0xC0000094u;
constexpr DWORD EXCEPTION_INT_OVERFLOW = 0xC0000095u;
constexpr DWORD EXCEPTION_STACK_OVERFLOW = 0xC00000FDu;

constexpr DWORD EXCEPTION_MAXIMUM_PARAMETERS = 15;

// Access kinds in ExceptionInformation[0] of an access violation.
constexpr ULONG_PTR EXCEPTION_READ_FAULT = 0;
constexpr ULONG_PTR EXCEPTION_WRITE_FAULT = 1;
constexpr ULONG_PTR EXCEPTION_EXECUTE_FAULT = 8;

struct EXCEPTION_RECORD {
    DWORD ExceptionCode;
    DWORD ExceptionFlags;
    EXCEPTION_RECORD* ExceptionRecord; // nested record; never set here
    void* ExceptionAddress;            // the faulting instruction
    DWORD NumberParameters;
    // Access violations and stack overflows: [0] the access kind, [1] the
    // address that could not be reached.
    ULONG_PTR ExceptionInformation[EXCEPTION_MAXIMUM_PARAMETERS];
};

// The general registers at the fault, copied from the signal context, and
// what the kernel reports about the fault itself.
struct CONTEXT {
    DWORD64 Rax, Rcx, Rdx, Rbx, Rsp, Rbp, Rsi, Rdi;
    DWORD64 R8, R9, R10, R11, R12, R13, R14, R15;
    DWORD64 Rip;
    DWORD EFlags;
    DWORD TrapNumber;    // the processor's exception vector
    DWORD64 ErrorCode;   // the processor's error code (page-fault access bits)
    DWORD64 FaultAddress; // the address the kernel reported for the fault
};

struct EXCEPTION_POINTERS {
    EXCEPTION_RECORD* ExceptionRecord;
    CONTEXT* ContextRecord;
};

// Called on the faulting thread, inside the signal handler, with copies that
// live until it returns. It is expected to throw; when it returns, the fault
// takes the course it would have taken without a translator.
using StructuredExceptionTranslator = void (*)(unsigned int code, EXCEPTION_POINTERS* pointers);

// Sets the calling thread's translator (null removes it) and returns the
// previous one. The first call in the process installs the fault handlers;
// the first call on a thread gives it an alternate signal stack, freed when
// the thread ends, and notes where its stack ends. Cheap when nothing changes.
StructuredExceptionTranslator SetStructuredExceptionTranslator(StructuredExceptionTranslator translator);
