#include "server/host/AccessViolation.h"
#include "server/host/ExceptionTranslator.h"
#include "server/host/StackOverflow.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <functional>
#include <pthread.h>
#include <string>
#include <thread>

namespace {

// The faults live behind volatile and noinline, so the optimiser can neither
// prove them away nor move them out of the try blocks.
TQ_FAULTS_ON_PURPOSE __attribute__((noinline)) int ReadAt(volatile const int* p)
{
    return *p;
}

TQ_FAULTS_ON_PURPOSE __attribute__((noinline)) void WriteAt(volatile int* p)
{
    *p = 1;
}

TQ_FAULTS_ON_PURPOSE __attribute__((noinline)) int Divide(int a, int b)
{
    volatile int divisor = b;
    return a / divisor;
}

volatile int g_sink = 0;
volatile int g_neverReached = -1;
// Never called; its presence keeps the compiler from proving that the
// recursion cannot throw and dropping the handlers around it, as it would
// for a function that calls only itself.
int (*volatile g_neverCalled)(int) = nullptr;

__attribute__((noinline)) int Recurse(int depth)
{
    volatile char frame[512];
    frame[0] = static_cast<char>(depth);
    frame[sizeof frame - 1] = static_cast<char>(depth);
    if (depth == g_neverReached)
        return g_neverCalled(depth);
    // Using the result after the call keeps it from becoming a loop.
    return Recurse(depth + 1) + frame[0] + frame[sizeof frame - 1];
}

// What a server call does with any exception: the call fails, nothing more.
__attribute__((noipa)) HRESULT RunCall(const std::function<void()>& body)
{
    try {
        body();
        return S_OK;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

struct Caught {
    bool any = false;
    std::string type;
    std::string what;
    DWORD code = 0;
    int captured = 0;
    EXCEPTION_RECORD record{};
    CONTEXT context{};
};

__attribute__((noipa)) Caught Catch(const std::function<void()>& body)
{
    Caught c;
    try {
        body();
    } catch (const TQC::win32_exception& e) {
        c.any = true;
        c.type = dynamic_cast<const TQC::stack_overflow*>(&e)     ? "stack_overflow"
                 : dynamic_cast<const TQC::access_violation*>(&e) ? "access_violation"
                                                                  : "win32_exception";
        c.what = e.what();
        c.code = e.code();
        c.captured = e.captured();
        c.record = e.record();
        c.context = e.context();
    }
    return c;
}

// Runs body on a fresh thread that installed the translator, as a call thread does.
void OnCallThread(const std::function<void()>& body)
{
    std::thread t([&] {
        InstallStructuredExceptionTranslator();
        body();
    });
    t.join();
}

bool AnyRegisterHolds(const CONTEXT& c, DWORD64 value)
{
    const DWORD64 regs[] = {c.Rax, c.Rcx, c.Rdx, c.Rbx, c.Rbp, c.Rsi, c.Rdi, c.R8,
                            c.R9,  c.R10, c.R11, c.R12, c.R13, c.R14, c.R15};
    for (DWORD64 r : regs)
        if (r == value)
            return true;
    return false;
}

uintptr_t StackLowOfThisThread()
{
    pthread_attr_t attr;
    pthread_getattr_np(pthread_self(), &attr);
    void* low = nullptr;
    size_t size = 0;
    pthread_attr_getstack(&attr, &low, &size);
    pthread_attr_destroy(&attr);
    return reinterpret_cast<uintptr_t>(low);
}

} // namespace

TEST(ExceptionClasses, ConstructionCopiesRecordAndContextAndFixesTheCode)
{
    EXCEPTION_RECORD nested{};
    EXCEPTION_RECORD record{};
    record.ExceptionCode = 0x12345678u;
    record.ExceptionRecord = &nested;
    record.NumberParameters = 2;
    record.ExceptionInformation[1] = 0xdead;
    CONTEXT context{};
    context.Rip = 0x401000;
    EXCEPTION_POINTERS pointers{&record, &context};

    TQC::access_violation av("text", 0x12345678u, &pointers);
    EXPECT_EQ(av.code(), EXCEPTION_ACCESS_VIOLATION);
    EXPECT_EQ(av.captured(), 1);
    EXPECT_EQ(av.record().ExceptionInformation[1], 0xdeadu);
    EXPECT_EQ(av.record().ExceptionRecord, nullptr);
    EXPECT_EQ(av.context().Rip, 0x401000u);
    EXPECT_STREQ(av.what(), "text");

    TQC::stack_overflow copy(TQC::stack_overflow("so", 1, &pointers));
    EXPECT_EQ(copy.code(), EXCEPTION_STACK_OVERFLOW);
    EXPECT_EQ(copy.captured(), 1);
    EXPECT_EQ(copy.context().Rip, 0x401000u);

    TQC::win32_exception bare("bare", 7, nullptr);
    EXPECT_EQ(bare.code(), 7u);
    EXPECT_EQ(bare.captured(), 0);
    EXPECT_EQ(bare.context().Rip, 0u);

    // Half the pointers still counts as captured, with the other half cleared.
    EXCEPTION_POINTERS onlyContext{nullptr, &context};
    TQC::win32_exception half("half", 9, &onlyContext);
    EXPECT_EQ(half.captured(), 1);
    EXPECT_EQ(half.record().ExceptionCode, 0u);
    EXPECT_EQ(half.context().Rip, 0x401000u);
}

TEST(ExceptionClasses, TranslatorPicksTheClassByCode)
{
    Caught av = Catch([] { TranslateStructuredException(EXCEPTION_ACCESS_VIOLATION, nullptr); });
    EXPECT_EQ(av.type, "access_violation");
    EXPECT_EQ(av.what, "Invalid access to memory location");
    Caught so = Catch([] { TranslateStructuredException(EXCEPTION_STACK_OVERFLOW, nullptr); });
    EXPECT_EQ(so.type, "stack_overflow");
    EXPECT_EQ(so.what, "Recursion too deep; the stack overflowed");
    Caught other = Catch([] { TranslateStructuredException(0xE06D7363u, nullptr); });
    EXPECT_EQ(other.type, "win32_exception");
    EXPECT_EQ(other.code, 0xE06D7363u);
    EXPECT_EQ(other.what, "Windows structured exception");
}

TEST(FaultTranslation, NullReadOnTheMainThreadIsAnAccessViolation)
{
    TQ_SKIP_TRANSLATED_FAULT();
    InstallStructuredExceptionTranslator();
    Caught c = Catch([] { g_sink = ReadAt(nullptr); });
    ASSERT_TRUE(c.any);
    EXPECT_EQ(c.type, "access_violation");
    EXPECT_EQ(c.code, 0xC0000005u);
    EXPECT_EQ(c.what, "Invalid access to memory location");
    EXPECT_EQ(c.captured, 1);
    EXPECT_EQ(c.record.ExceptionCode, 0xC0000005u);
    EXPECT_EQ(c.record.NumberParameters, 2u);
    EXPECT_EQ(c.record.ExceptionInformation[0], EXCEPTION_READ_FAULT);
    EXPECT_EQ(c.record.ExceptionInformation[1], 0u);
    EXPECT_NE(c.context.Rip, 0u);
    EXPECT_EQ(reinterpret_cast<DWORD64>(c.record.ExceptionAddress), c.context.Rip);
}

TEST(FaultTranslation, BadReadOnACallThreadCarriesAddressAndRegisters)
{
    TQ_SKIP_TRANSLATED_FAULT();
    OnCallThread([] {
        auto* bad = reinterpret_cast<volatile const int*>(uintptr_t{0x1238});
        for (int round = 0; round < 3; ++round) {
            Caught c = Catch([&] { g_sink = ReadAt(bad); });
            ASSERT_TRUE(c.any) << "round " << round;
            EXPECT_EQ(c.type, "access_violation");
            EXPECT_EQ(c.code, EXCEPTION_ACCESS_VIOLATION);
            EXPECT_EQ(c.record.ExceptionInformation[1], 0x1238u);
            EXPECT_EQ(c.context.FaultAddress, 0x1238u);
            EXPECT_TRUE(AnyRegisterHolds(c.context, 0x1238u));
            // The fault happened in ReadAt, on this thread's stack.
            auto rip = reinterpret_cast<uintptr_t>(&ReadAt);
            EXPECT_GE(c.context.Rip, rip);
            EXPECT_LT(c.context.Rip, rip + 64);
            EXPECT_GT(c.context.Rsp, StackLowOfThisThread());
        }
    });
}

TEST(FaultTranslation, WriteFaultIsMarkedAsAWrite)
{
    TQ_SKIP_TRANSLATED_FAULT();
    OnCallThread([] {
        Caught c = Catch([] { WriteAt(nullptr); });
        ASSERT_TRUE(c.any);
        EXPECT_EQ(c.record.ExceptionInformation[0], EXCEPTION_WRITE_FAULT);
    });
}

TEST(FaultTranslation, IntegerDivisionByZeroIsAWin32Exception)
{
    TQ_SKIP_TRANSLATED_FAULT();
    OnCallThread([] {
        for (int round = 0; round < 3; ++round) {
            Caught c = Catch([] { g_sink = Divide(7, 0); });
            ASSERT_TRUE(c.any) << "round " << round;
            EXPECT_EQ(c.type, "win32_exception");
            EXPECT_EQ(c.code, 0xC0000094u);
            EXPECT_EQ(c.what, "Windows structured exception");
            EXPECT_EQ(c.captured, 1);
            auto fn = reinterpret_cast<uintptr_t>(&Divide);
            EXPECT_GE(c.context.Rip, fn);
            EXPECT_LT(c.context.Rip, fn + 256); // sanitizer builds make it longer
        }
        EXPECT_EQ(Divide(7, 2), 3); // the thread computes on as before
    });
}

TEST(FaultTranslation, RunawayRecursionIsAStackOverflowAndTheThreadGoesOn)
{
    TQ_SKIP_TRANSLATED_FAULT();
    OnCallThread([] {
        const uintptr_t low = StackLowOfThisThread();
        for (int round = 0; round < 3; ++round) {
            Caught c = Catch([] { g_sink = Recurse(0); });
            ASSERT_TRUE(c.any) << "round " << round;
            EXPECT_EQ(c.type, "stack_overflow");
            EXPECT_EQ(c.code, 0xC00000FDu);
            EXPECT_EQ(c.what, "Recursion too deep; the stack overflowed");
            EXPECT_EQ(c.captured, 1);
            // The fault is at the stack's end, close to the stack pointer.
            EXPECT_LT(c.record.ExceptionInformation[1], low + 4096);
            EXPECT_LT(c.context.Rsp, low + 64 * 1024);
            EXPECT_LT(c.context.FaultAddress + 4096, c.context.Rsp + 8192);
        }
        Caught av = Catch([] { g_sink = ReadAt(nullptr); });
        EXPECT_EQ(av.type, "access_violation");
    });
}

TEST(FaultTranslation, RunawayRecursionOnTheMainThread)
{
    TQ_SKIP_TRANSLATED_FAULT();
    InstallStructuredExceptionTranslator();
    for (int round = 0; round < 2; ++round) {
        Caught c = Catch([] { g_sink = Recurse(0); });
        EXPECT_EQ(c.type, "stack_overflow") << "round " << round;
    }
}

TEST(FaultTranslation, FaultsEndTheCallNotTheThread)
{
    TQ_SKIP_TRANSLATED_FAULT();
    OnCallThread([] {
        for (int round = 0; round < 5; ++round) {
            EXPECT_EQ(RunCall([] { g_sink = ReadAt(nullptr); }), E_UNEXPECTED);
            EXPECT_EQ(RunCall([] { g_sink = Divide(1, 0); }), E_UNEXPECTED);
            EXPECT_EQ(RunCall([] { g_sink = Recurse(0); }), E_UNEXPECTED);
            EXPECT_EQ(RunCall([] { g_sink = Divide(4, 2); }), S_OK);
        }
    });
}
