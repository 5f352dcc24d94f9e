#pragma once
// Where an exception thrown out of a fault handler starts unwinding.
//
// The exception tables only describe the instructions the compiler expected
// to throw. A fault elsewhere (a stack store in a prologue when the stack
// runs out, code of a library built without -fnon-call-exceptions, a call
// through a null pointer) would make the unwinder give up and end the
// process. Such frames are left as if the fault had happened at the call
// into them: their own destructors do not run, every outer frame unwinds
// normally.

#include <cstdint>
#include <ucontext.h>

// Rewrites the saved registers of *uc, when needed, so that unwinding from
// the signal frame can reach the handlers. stackLow and stackHigh bound the
// faulting thread's stack (0 when unknown). Called inside the signal handler.
void MoveToUnwindableFrame(ucontext_t* uc, uintptr_t stackLow, uintptr_t stackHigh);
