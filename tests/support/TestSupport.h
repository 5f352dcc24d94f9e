#pragma once
// Shared helpers for the test programs.

#include <gtest/gtest.h>

#include <string>

namespace tqtest {

// A fresh temporary folder, removed with everything in it at destruction.
class TempFolder {
public:
    // A new folder under the system's temporary folder, or under parent.
    explicit TempFolder(const std::string& parent = {});
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::string& Path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// Points TQ_STATE_ROOT at a fresh folder for the life of the fixture, so a
// test has its own registry, pipes and event-log file; the event log is
// written to <root>/eventlog.txt.
class StateRootTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    std::string Root() const { return root_.Path(); }
    std::string EventLogPath() const { return root_ / "eventlog.txt"; }
    // Whole text of the event-log file ("" when nothing was logged).
    std::string EventLogText() const;

private:
    TempFolder root_;
    std::string oldRoot_;
    std::string oldEventLog_;
    bool hadRoot_ = false;
    bool hadEventLog_ = false;
};

// A TCP port on loopback that was free a moment ago (never one of the
// server's fixed ports).
int FreeTcpPort();

// Waits until the port can be bound (another process's passing use of it,
// such as an outgoing connection's local port, has ended).
bool WaitUntilPortFree(int port, int timeoutMs = 10000);

// Whole content of a file ("" when it cannot be read).
std::string ReadFileText(const std::string& path);
bool WriteFileText(const std::string& path, const std::string& text);

// True in a sanitizer build, whose memory of its own (shadow memory, freed
// blocks held back) makes bounds on a program's memory meaningless: they are
// checked in the plain build.
#ifdef TQ_SANITIZED
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

// Folder of the build's programs (TQWL and friends), from TQ_BUILD_DIR or the
// test program's own folder.
std::string BuildFolder();

} // namespace tqtest

// Marks a function or lambda that faults on purpose (reads through null,
// divides by zero) so that UBSan lets the processor raise the fault it is
// there to raise.
#define TQ_FAULTS_ON_PURPOSE __attribute__((no_sanitize("null", "integer-divide-by-zero")))

// A case that lets a fault kill the process steps aside in a sanitizer build:
// the sanitizer's own signal handler takes the fault first, so the case would
// test the sanitizer, not our code.
#ifdef TQ_SANITIZED
#define TQ_SKIP_FATAL_FAULT() GTEST_SKIP() << "the " TQ_SANITIZED " sanitizer takes fatal faults here"
#else
#define TQ_SKIP_FATAL_FAULT() static_cast<void>(0)
#endif

// A case that turns a fault into an exception steps aside under
// ThreadSanitizer: its runtime runs signal handlers its own way and takes the
// translator's throw out of one for a signal-unsafe call. Translation is
// tested in the plain build and under AddressSanitizer.
#if defined(__SANITIZE_THREAD__)
#define TQ_SKIP_TRANSLATED_FAULT() GTEST_SKIP() << "the " TQ_SANITIZED " sanitizer does not let faults be translated"
#else
#define TQ_SKIP_TRANSLATED_FAULT() static_cast<void>(0)
#endif
