#include "platform/seh/StructuredException.h"

#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <fstream>
#include <functional>
#include <mutex>
#include <string>
#include <sys/mman.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

struct Fault {
    DWORD code;
    EXCEPTION_RECORD record;
    CONTEXT context;
};

void ThrowFault(unsigned int code, EXCEPTION_POINTERS* pointers)
{
    throw Fault{code, *pointers->ExceptionRecord, *pointers->ContextRecord};
}

void ReturnQuietly(unsigned int, EXCEPTION_POINTERS*) {}

volatile int g_sink = 0;
volatile int g_neverReached = -1;
int (*volatile g_neverCalled)(int) = nullptr;
void (*volatile g_nullFunction)() = nullptr;

TQ_FAULTS_ON_PURPOSE __attribute__((noinline)) int ReadAt(volatile const int* p)
{
    return *p;
}

// A frame that owns an object with a destructor: its prologue and the
// string's construction touch the stack where the exception tables do not
// expect a throw, which is where a stack overflow usually strikes.
__attribute__((noinline)) size_t RecurseWithString(int depth, const std::string& text)
{
    std::string local = text + "+";
    if (depth == g_neverReached)
        return static_cast<size_t>(g_neverCalled(depth));
    return RecurseWithString(depth + 1, text) + local.size();
}

// The body stays opaque to the optimiser, as server code calling through
// interfaces is: a try block whose body the compiler can prove never throws
// (a lone call of a noexcept C function, say) is dropped at compile time.
__attribute__((noipa)) bool Faults(const std::function<void()>& body, Fault* out = nullptr)
{
    try {
        body();
    } catch (const Fault& f) {
        if (out != nullptr)
            *out = f;
        return true;
    }
    return false;
}

template <class Body>
void OnThreadWithTranslator(Body body)
{
    std::thread t([&] {
        SetStructuredExceptionTranslator(ThrowFault);
        body();
    });
    t.join();
}

size_t MappingCount()
{
    std::ifstream maps("/proc/self/maps");
    size_t n = 0;
    std::string line;
    while (std::getline(maps, line))
        ++n;
    return n;
}

struct Counter {
    int* destroyed;
    ~Counter() { ++*destroyed; }
};

__attribute__((noinline)) void FaultUnderObjects(int* destroyed, std::mutex& lock)
{
    std::lock_guard<std::mutex> guard(lock);
    Counter c{destroyed};
    g_sink = ReadAt(nullptr);
}

} // namespace

TEST(Translator, IsPerThreadAndReturnsThePreviousOne)
{
    EXPECT_EQ(SetStructuredExceptionTranslator(ThrowFault), nullptr);
    EXPECT_EQ(SetStructuredExceptionTranslator(ReturnQuietly), ThrowFault);
    std::thread other([] { EXPECT_EQ(SetStructuredExceptionTranslator(nullptr), nullptr); });
    other.join();
    EXPECT_EQ(SetStructuredExceptionTranslator(nullptr), ReturnQuietly);
}

TEST(Translator, GivesEachThreadAnAlternateStackAndFreesItAtTheEnd)
{
#if defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "ThreadSanitizer maps memory of its own for every thread";
#endif
    OnThreadWithTranslator([] {
        stack_t ss{};
        ASSERT_EQ(sigaltstack(nullptr, &ss), 0);
        EXPECT_EQ(ss.ss_flags & SS_DISABLE, 0);
        EXPECT_GE(ss.ss_size, 64u * 1024);
    });
    size_t before = MappingCount();
    for (int i = 0; i < 50; ++i)
        OnThreadWithTranslator([] {});
    // 50 leaked stacks would be at least 50 more mappings.
    EXPECT_LT(MappingCount(), before + 10);
}

TEST(Faults, ExceptionsCarryCodeRecordAndRegisters)
{
    TQ_SKIP_TRANSLATED_FAULT();
    OnThreadWithTranslator([] {
        Fault f{};
        ASSERT_TRUE(Faults([] { g_sink = ReadAt(reinterpret_cast<volatile const int*>(uintptr_t{0x2468})); }, &f));
        EXPECT_EQ(f.code, EXCEPTION_ACCESS_VIOLATION);
        EXPECT_EQ(f.record.ExceptionCode, EXCEPTION_ACCESS_VIOLATION);
        EXPECT_EQ(f.record.ExceptionRecord, nullptr);
        EXPECT_EQ(f.record.NumberParameters, 2u);
        EXPECT_EQ(f.record.ExceptionInformation[0], EXCEPTION_READ_FAULT);
        EXPECT_EQ(f.record.ExceptionInformation[1], 0x2468u);
        EXPECT_EQ(f.context.FaultAddress, 0x2468u);
        EXPECT_EQ(reinterpret_cast<DWORD64>(f.record.ExceptionAddress), f.context.Rip);
        EXPECT_EQ(f.context.TrapNumber, 14u); // page fault
        EXPECT_NE(f.context.Rsp, 0u);
    });
}

TEST(Faults, CallThroughANullPointerIsAnExecuteFault)
{
    TQ_SKIP_TRANSLATED_FAULT();
    OnThreadWithTranslator([] {
        for (int round = 0; round < 3; ++round) {
            Fault f{};
            ASSERT_TRUE(Faults([] { g_nullFunction(); }, &f)) << "round " << round;
            EXPECT_EQ(f.code, EXCEPTION_ACCESS_VIOLATION);
            EXPECT_EQ(f.record.ExceptionInformation[0], EXCEPTION_EXECUTE_FAULT);
            EXPECT_EQ(f.context.Rip, 0u); // the record shows the fault as it was
        }
    });
}

TEST(Faults, InsideTheCLibraryAreCaught)
{
    TQ_SKIP_TRANSLATED_FAULT();
    OnThreadWithTranslator([] {
        char target[8];
        const char* volatile hidden = reinterpret_cast<const char*>(uintptr_t{0x10});
        const char* bad = hidden;
        EXPECT_TRUE(Faults([&] { g_sink = static_cast<int>(std::strlen(bad)); }));
        EXPECT_TRUE(Faults([&] { std::memcpy(target, bad, sizeof target); }));
        EXPECT_TRUE(Faults([&] { std::string s(bad); }));
    });
}

TEST(Faults, DivisionCodes)
{
    TQ_SKIP_TRANSLATED_FAULT();
    OnThreadWithTranslator([] {
        volatile int zero = 0;
        volatile int one = 1;
        Fault f{};
        ASSERT_TRUE(Faults([&]() TQ_FAULTS_ON_PURPOSE { g_sink = one / zero; }, &f));
        EXPECT_EQ(f.code, EXCEPTION_INT_DIVIDE_BY_ZERO);
        EXPECT_EQ(f.record.NumberParameters, 0u);
        ASSERT_TRUE(Faults([&]() TQ_FAULTS_ON_PURPOSE { g_sink = one % zero; }, &f));
        EXPECT_EQ(f.code, EXCEPTION_INT_DIVIDE_BY_ZERO);
    });
}

TEST(Faults, BusErrorIsAnAccessViolation)
{
    TQ_SKIP_TRANSLATED_FAULT();
    OnThreadWithTranslator([] {
        // A mapping that outlives its file's end: touching it raises SIGBUS.
        char path[] = "/tmp/tqseh-XXXXXX";
        int fd = ::mkstemp(path);
        ASSERT_GE(fd, 0);
        ::unlink(path);
        ASSERT_EQ(::ftruncate(fd, 4096), 0);
        void* map = ::mmap(nullptr, 4096, PROT_READ, MAP_SHARED, fd, 0);
        ASSERT_NE(map, MAP_FAILED);
        ASSERT_EQ(::ftruncate(fd, 0), 0);
        Fault f{};
        EXPECT_TRUE(Faults([&] { g_sink = ReadAt(static_cast<volatile const int*>(map)); }, &f));
        EXPECT_EQ(f.code, EXCEPTION_ACCESS_VIOLATION);
        EXPECT_EQ(f.record.ExceptionInformation[1], reinterpret_cast<ULONG_PTR>(map));
        ::munmap(map, 4096);
        ::close(fd);
    });
}

TEST(Faults, IllegalInstruction)
{
    TQ_SKIP_TRANSLATED_FAULT();
    OnThreadWithTranslator([] {
        Fault f{};
        EXPECT_TRUE(Faults([] { __builtin_trap(); }, &f));
        EXPECT_EQ(f.code, EXCEPTION_ILLEGAL_INSTRUCTION);
    });
}

TEST(Faults, UnwindingRunsTheDestructorsOfTheFramesItLeaves)
{
    TQ_SKIP_TRANSLATED_FAULT();
    OnThreadWithTranslator([] {
        std::mutex lock;
        int destroyed = 0;
        for (int round = 0; round < 3; ++round)
            EXPECT_TRUE(Faults([&] { FaultUnderObjects(&destroyed, lock); }));
        EXPECT_EQ(destroyed, 3);
        EXPECT_TRUE(lock.try_lock()); // the guard let go each time
        lock.unlock();
    });
}

TEST(Faults, StackOverflowInFramesWithDestructors)
{
    TQ_SKIP_TRANSLATED_FAULT();
    OnThreadWithTranslator([] {
        const std::string text = "abc";
        // A value kept in a preserved register across the calls must come
        // back intact in the frame that catches.
        volatile int before = 12345;
        for (int round = 0; round < 3; ++round) {
            Fault f{};
            ASSERT_TRUE(Faults([&] { g_sink = static_cast<int>(RecurseWithString(0, text)); }, &f));
            EXPECT_EQ(f.code, EXCEPTION_STACK_OVERFLOW);
        }
        EXPECT_EQ(before, 12345);
    });
}

TEST(FaultsDeathTest, ThreadWithoutTranslatorDiesOfTheSignal)
{
    TQ_SKIP_FATAL_FAULT();
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            SetStructuredExceptionTranslator(ThrowFault); // handlers in place, not on the other thread
            std::thread t([] { g_sink = ReadAt(nullptr); });
            t.join();
        },
        testing::KilledBySignal(SIGSEGV), "");
}

TEST(FaultsDeathTest, TranslatorThatReturnsLetsTheFaultTakeItsCourse)
{
    TQ_SKIP_FATAL_FAULT();
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            SetStructuredExceptionTranslator(ReturnQuietly);
            volatile int zero = 0;
            g_sink = 1 / zero;
        },
        testing::KilledBySignal(SIGFPE), "");
}

TEST(FaultsDeathTest, SentSignalsAreNotTranslated)
{
    TQ_SKIP_FATAL_FAULT();
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            SetStructuredExceptionTranslator(ThrowFault);
            try {
                raise(SIGSEGV);
            } catch (...) {
                std::_Exit(3);
            }
        },
        testing::KilledBySignal(SIGSEGV), "");
}
