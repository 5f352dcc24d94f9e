#include "platform/seh/StructuredException.h"

#include "platform/seh/FaultFrame.h"

#include <csignal>
#include <cstring>
#include <mutex>
#include <pthread.h>
#include <sys/mman.h>
#include <ucontext.h>
#include <unistd.h>

namespace {

constexpr int kFaultSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL};

// Room for the handler, the translator and the unwinder's first steps; the
// page below it is left inaccessible, so overrunning it ends the process
// instead of corrupting memory.
constexpr size_t kAltStackSize = 128 * 1024;

// A fault this far below the lowest usable stack address, or in the stack's
// lowest page, counts as running off the end of the stack: frames larger than
// the guard can step past it.
constexpr uintptr_t kOverflowReach = 1024 * 1024;

// Read by the signal handler, so they must be plain thread-locals in the
// static TLS block: no lazy initialisation, no allocation on first touch.
thread_local StructuredExceptionTranslator t_translator __attribute__((tls_model("initial-exec"))) = nullptr;
thread_local uintptr_t t_stackLow __attribute__((tls_model("initial-exec"))) = 0;
thread_local uintptr_t t_stackHigh __attribute__((tls_model("initial-exec"))) = 0;
thread_local uintptr_t t_guardSize __attribute__((tls_model("initial-exec"))) = 0;
thread_local bool t_prepared __attribute__((tls_model("initial-exec"))) = false;

struct sigaction g_previous[NSIG];
std::once_flag g_installOnce;
pthread_key_t g_altStackKey;
size_t g_pageSize = 4096;

// The key's destructor: runs on the ending thread with the mapping's base.
void FreeAltStack(void* base)
{
    stack_t current{};
    if (sigaltstack(nullptr, &current) == 0 && current.ss_sp == static_cast<char*>(base) + g_pageSize) {
        stack_t off{};
        off.ss_flags = SS_DISABLE;
        sigaltstack(&off, nullptr);
    }
    munmap(base, kAltStackSize + g_pageSize);
}

void PassOn(int sig, siginfo_t* info, void* context)
{
    const struct sigaction& prev = g_previous[sig];
    if ((prev.sa_flags & SA_SIGINFO) != 0 && prev.sa_sigaction != nullptr) {
        prev.sa_sigaction(sig, info, context);
        return;
    }
    if ((prev.sa_flags & SA_SIGINFO) == 0 && prev.sa_handler != SIG_DFL && prev.sa_handler != SIG_IGN) {
        prev.sa_handler(sig);
        return;
    }
    if (prev.sa_handler == SIG_IGN && info->si_code <= 0)
        return;
    // The default action: a fault repeats when the handler returns, a sent
    // signal is sent again, and either ends the process as it would have.
    struct sigaction dfl {};
    dfl.sa_handler = SIG_DFL;
    sigemptyset(&dfl.sa_mask);
    sigaction(sig, &dfl, nullptr);
    if (info->si_code <= 0)
        raise(sig);
}

bool IsStackOverflow(uintptr_t address)
{
    if (t_stackLow == 0)
        return false;
    uintptr_t reach = t_guardSize + kOverflowReach;
    uintptr_t bottom = t_stackLow > reach ? t_stackLow - reach : 0;
    return address >= bottom && address < t_stackLow + g_pageSize;
}

DWORD CodeOf(int sig, const siginfo_t* info)
{
    switch (sig) {
    case SIGSEGV:
        return IsStackOverflow(reinterpret_cast<uintptr_t>(info->si_addr)) ? EXCEPTION_STACK_OVERFLOW
                                                                           : EXCEPTION_ACCESS_VIOLATION;
    case SIGBUS:
        return EXCEPTION_ACCESS_VIOLATION;
    case SIGILL:
        return EXCEPTION_ILLEGAL_INSTRUCTION;
    default:
        break;
    }
    switch (info->si_code) {
    case FPE_INTDIV: return EXCEPTION_INT_DIVIDE_BY_ZERO;
    case FPE_INTOVF: return EXCEPTION_INT_OVERFLOW;
    case FPE_FLTDIV: return EXCEPTION_FLT_DIVIDE_BY_ZERO;
    case FPE_FLTOVF: return EXCEPTION_FLT_OVERFLOW;
    case FPE_FLTUND: return EXCEPTION_FLT_UNDERFLOW;
    case FPE_FLTRES: return EXCEPTION_FLT_INEXACT_RESULT;
    default: return EXCEPTION_FLT_INVALID_OPERATION;
    }
}

void CopyContext(const ucontext_t* uc, const siginfo_t* info, CONTEXT& out)
{
    out.FaultAddress = reinterpret_cast<uintptr_t>(info->si_addr);
#if defined(__x86_64__)
    const greg_t* r = uc->uc_mcontext.gregs;
    out.Rax = static_cast<DWORD64>(r[REG_RAX]);
    out.Rcx = static_cast<DWORD64>(r[REG_RCX]);
    out.Rdx = static_cast<DWORD64>(r[REG_RDX]);
    out.Rbx = static_cast<DWORD64>(r[REG_RBX]);
    out.Rsp = static_cast<DWORD64>(r[REG_RSP]);
    out.Rbp = static_cast<DWORD64>(r[REG_RBP]);
    out.Rsi = static_cast<DWORD64>(r[REG_RSI]);
    out.Rdi = static_cast<DWORD64>(r[REG_RDI]);
    out.R8 = static_cast<DWORD64>(r[REG_R8]);
    out.R9 = static_cast<DWORD64>(r[REG_R9]);
    out.R10 = static_cast<DWORD64>(r[REG_R10]);
    out.R11 = static_cast<DWORD64>(r[REG_R11]);
    out.R12 = static_cast<DWORD64>(r[REG_R12]);
    out.R13 = static_cast<DWORD64>(r[REG_R13]);
    out.R14 = static_cast<DWORD64>(r[REG_R14]);
    out.R15 = static_cast<DWORD64>(r[REG_R15]);
    out.Rip = static_cast<DWORD64>(r[REG_RIP]);
    out.EFlags = static_cast<DWORD>(r[REG_EFL]);
    out.TrapNumber = static_cast<DWORD>(r[REG_TRAPNO]);
    out.ErrorCode = static_cast<DWORD64>(r[REG_ERR]);
#else
    (void)uc; // registers are copied on x86_64 only
#endif
}

// x86 page-fault error code: bit 1 a write, bit 4 an instruction fetch.
ULONG_PTR AccessKind(const CONTEXT& context)
{
    constexpr DWORD kPageFault = 14;
    if (context.TrapNumber != kPageFault)
        return EXCEPTION_READ_FAULT;
    if ((context.ErrorCode & 0x10u) != 0)
        return EXCEPTION_EXECUTE_FAULT;
    return (context.ErrorCode & 0x2u) != 0 ? EXCEPTION_WRITE_FAULT : EXCEPTION_READ_FAULT;
}

void OnFault(int sig, siginfo_t* info, void* raw)
{
    StructuredExceptionTranslator translator = t_translator;
    // Only faults of the processor are translated; a signal sent by a
    // process can arrive between any two instructions, where throwing is not safe.
    if (translator == nullptr || info->si_code <= 0) {
        PassOn(sig, info, raw);
        return;
    }
    auto* uc = static_cast<ucontext_t*>(raw);
    EXCEPTION_RECORD record{};
    CONTEXT context{};
    CopyContext(uc, info, context);
    record.ExceptionCode = CodeOf(sig, info);
    record.ExceptionAddress = reinterpret_cast<void*>(context.Rip);
    if (record.ExceptionCode == EXCEPTION_ACCESS_VIOLATION || record.ExceptionCode == EXCEPTION_STACK_OVERFLOW) {
        record.NumberParameters = 2;
        record.ExceptionInformation[0] = AccessKind(context);
        record.ExceptionInformation[1] = reinterpret_cast<ULONG_PTR>(info->si_addr);
    }
    EXCEPTION_POINTERS pointers{&record, &context};
    // Kept to put back should the translator return rather than throw.
    mcontext_t saved = uc->uc_mcontext;
    MoveToUnwindableFrame(uc, t_stackLow, t_stackHigh);
    // A translator that throws never returns through sigreturn, so the mask
    // the kernel saved is put back now; the next fault is then caught too.
    pthread_sigmask(SIG_SETMASK, &uc->uc_sigmask, nullptr);
    translator(record.ExceptionCode, &pointers);
    uc->uc_mcontext = saved;
    PassOn(sig, info, raw);
}

void InstallHandlers()
{
    long page = sysconf(_SC_PAGESIZE);
    if (page > 0)
        g_pageSize = static_cast<size_t>(page);
    pthread_key_create(&g_altStackKey, FreeAltStack);
    for (int sig : kFaultSignals) {
        struct sigaction action {};
        action.sa_sigaction = OnFault;
        action.sa_flags = SA_SIGINFO | SA_ONSTACK;
        sigemptyset(&action.sa_mask);
        sigaction(sig, &action, &g_previous[sig]);
    }
}

void GiveAltStack()
{
    stack_t current{};
    if (sigaltstack(nullptr, &current) == 0 && (current.ss_flags & SS_DISABLE) == 0 &&
        current.ss_size >= kAltStackSize)
        return; // someone gave this thread a large enough one already
    size_t total = kAltStackSize + g_pageSize;
    void* base = mmap(nullptr, total, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0);
    if (base == MAP_FAILED)
        return;
    mprotect(base, g_pageSize, PROT_NONE);
    stack_t ss{};
    ss.ss_sp = static_cast<char*>(base) + g_pageSize;
    ss.ss_size = kAltStackSize;
    if (sigaltstack(&ss, nullptr) != 0) {
        munmap(base, total);
        return;
    }
    pthread_setspecific(g_altStackKey, base);
}

void NoteStackBounds()
{
    pthread_attr_t attr;
    if (pthread_getattr_np(pthread_self(), &attr) != 0)
        return;
    void* low = nullptr;
    size_t size = 0;
    size_t guard = 0;
    if (pthread_attr_getstack(&attr, &low, &size) == 0) {
        t_stackLow = reinterpret_cast<uintptr_t>(low);
        t_stackHigh = t_stackLow + size;
    }
    if (pthread_attr_getguardsize(&attr, &guard) == 0)
        t_guardSize = guard;
    pthread_attr_destroy(&attr);
}

} // namespace

StructuredExceptionTranslator SetStructuredExceptionTranslator(StructuredExceptionTranslator translator)
{
    StructuredExceptionTranslator previous = t_translator;
    if (translator != nullptr && !t_prepared) {
        std::call_once(g_installOnce, InstallHandlers);
        NoteStackBounds();
        GiveAltStack();
        t_prepared = true;
    }
    t_translator = translator;
    return previous;
}
