// The event log as tests see it: the lines of the event-log file.
#include "platform/eventlog/EventLog.h"
#include "platform/win/LastError.h"
#include "tests/support/TestSupport.h"

#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

class EventLogTest : public tqtest::StateRootTest {
protected:
    void SetUp() override
    {
        StateRootTest::SetUp();
        source_ = RegisterEventSourceA(nullptr, "TQRT");
        ASSERT_NE(source_, nullptr);
    }
    void TearDown() override
    {
        DeregisterEventSource(source_);
        StateRootTest::TearDown();
    }

    BOOL Report(WORD type, DWORD id, std::vector<const char*> strings, const char* sid = nullptr, WORD category = 0)
    {
        return ReportEventA(source_, type, category, id, sid, static_cast<WORD>(strings.size()), 0,
                            strings.empty() ? nullptr : strings.data(), nullptr);
    }

    std::vector<std::string> Lines() const
    {
        std::vector<std::string> lines;
        std::istringstream in(EventLogText());
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
        return lines;
    }

    HEVENTLOG source_ = nullptr;
};

TEST_F(EventLogTest, OneTabSeparatedLinePerEvent)
{
    EXPECT_TRUE(Report(EVENTLOG_ERROR_TYPE, 0x69200002, {"Not starting Sales: Storage folder doesn't exist"},
                       "S-1-22-1-1000", 3));
    EXPECT_TRUE(Report(EVENTLOG_INFORMATION_TYPE, 7, {"one", "two", "three"}));
    EXPECT_EQ(EventLogText(), "TQRT\tError\t3\t0x69200002\tS-1-22-1-1000\t"
                              "Not starting Sales: Storage folder doesn't exist\n"
                              "TQRT\tInformation\t0\t0x00000007\t-\tone\ttwo\tthree\n");
}

TEST_F(EventLogTest, EveryTypeHasItsName)
{
    const std::pair<WORD, const char*> types[] = {
        {EVENTLOG_SUCCESS, "Success"},           {EVENTLOG_ERROR_TYPE, "Error"},
        {EVENTLOG_WARNING_TYPE, "Warning"},      {EVENTLOG_INFORMATION_TYPE, "Information"},
        {EVENTLOG_AUDIT_SUCCESS, "AuditSuccess"}, {EVENTLOG_AUDIT_FAILURE, "AuditFailure"},
        {0x20, "32"},                             {EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE, "3"},
    };
    for (const auto& [type, name] : types)
        EXPECT_TRUE(Report(type, 0xC0000001u, {}, nullptr, 65535));
    auto lines = Lines();
    ASSERT_EQ(lines.size(), std::size(types));
    for (size_t i = 0; i < lines.size(); ++i)
        EXPECT_EQ(lines[i], std::string("TQRT\t") + types[i].second + "\t65535\t0xC0000001\t-");
}

TEST_F(EventLogTest, TabsLineEndsAndBackslashesInsideStringsAreEscaped)
{
    EXPECT_TRUE(Report(EVENTLOG_WARNING_TYPE, 1, {"a\tb", "line1\nline2\r\n", "C:\\dir\\", "\\t is not a tab"}));
    EXPECT_EQ(EventLogText(), "TQRT\tWarning\t0\t0x00000001\t-\ta\\tb\tline1\\nline2\\r\\n\tC:\\\\dir\\\\\t\\\\t is not a tab\n");
    HEVENTLOG odd = RegisterEventSourceA("", "odd\tsource");
    ASSERT_NE(odd, nullptr);
    EXPECT_TRUE(ReportEventA(odd, EVENTLOG_SUCCESS, 0, 2, "S-1\t5", 0, 0, nullptr, nullptr));
    EXPECT_EQ(Lines().back(), "odd\\tsource\tSuccess\t0\t0x00000002\tS-1\\t5");
    EXPECT_TRUE(DeregisterEventSource(odd));
}

TEST_F(EventLogTest, NullOrEmptySidsAndStrings)
{
    const char* withNull[] = {"first", nullptr, ""};
    EXPECT_TRUE(ReportEventA(source_, EVENTLOG_ERROR_TYPE, 1, 2, nullptr, 3, 0, withNull, nullptr));
    EXPECT_TRUE(ReportEventA(source_, EVENTLOG_ERROR_TYPE, 1, 2, "", 0, 0, nullptr, nullptr));
    const char* empty[] = {""};
    EXPECT_TRUE(ReportEventA(source_, EVENTLOG_ERROR_TYPE, 1, 2, nullptr, 1, 4, empty, "raw!"));
    EXPECT_EQ(Lines(), (std::vector<std::string>{"TQRT\tError\t1\t0x00000002\t-\tfirst\t\t",
                                                 "TQRT\tError\t1\t0x00000002\t-",
                                                 "TQRT\tError\t1\t0x00000002\t-\t"}));
    // A count of strings without the strings is refused and logs nothing.
    EXPECT_FALSE(ReportEventA(source_, EVENTLOG_ERROR_TYPE, 1, 2, nullptr, 2, 0, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(Lines().size(), 3u);
}

TEST_F(EventLogTest, UnknownSourcesAreRefused)
{
    EXPECT_FALSE(ReportEventA(nullptr, EVENTLOG_ERROR_TYPE, 0, 1, nullptr, 0, 0, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    HEVENTLOG gone = RegisterEventSourceA(nullptr, "Gone");
    ASSERT_NE(gone, nullptr);
    EXPECT_TRUE(DeregisterEventSource(gone));
    EXPECT_FALSE(DeregisterEventSource(gone));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(DeregisterEventSource(nullptr));
    SetLastError(0);
    EXPECT_EQ(RegisterEventSourceA("\\\\elsewhere", "TQRT"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegisterEventSourceA(nullptr, nullptr), nullptr);
    EXPECT_EQ(RegisterEventSourceA(nullptr, ""), nullptr);
    EXPECT_EQ(EventLogText(), "");
}

TEST_F(EventLogTest, WithoutTheVariableOnlySyslogGetsTheEvent)
{
    ::unsetenv("TQ_EVENTLOG_FILE");
    EXPECT_TRUE(Report(EVENTLOG_INFORMATION_TYPE, 1, {"quiet"}));
    struct stat st {};
    EXPECT_NE(::stat(EventLogPath().c_str(), &st), 0);
}

TEST_F(EventLogTest, AFileThatCannotBeWrittenFailsTheReport)
{
    ::setenv("TQ_EVENTLOG_FILE", Root().c_str(), 1); // a folder
    SetLastError(0);
    EXPECT_FALSE(Report(EVENTLOG_ERROR_TYPE, 1, {"lost"}));
    EXPECT_NE(GetLastError(), 0u);
}

TEST_F(EventLogTest, ProcessesAndThreadsAppendWholeLines)
{
    constexpr int kEvents = 200;
    auto writer = [this](const std::string& tag) {
        std::string big(3000, 'x');
        for (int i = 0; i < kEvents; ++i) {
            std::string n = tag + "-" + std::to_string(i);
            Report(EVENTLOG_INFORMATION_TYPE, 5, {n.c_str(), big.c_str()});
        }
    };
    pid_t child = ::fork();
    if (child == 0) {
        std::thread t([&] { writer("child-thread"); });
        writer("child");
        t.join();
        ::_exit(0);
    }
    std::thread t([&] { writer("parent-thread"); });
    writer("parent");
    t.join();
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    auto lines = Lines();
    ASSERT_EQ(lines.size(), 4u * kEvents);
    const std::string tail = "\t" + std::string(3000, 'x');
    for (const auto& line : lines) {
        ASSERT_EQ(line.rfind("TQRT\tInformation\t0\t0x00000005\t-\t", 0), 0u) << line.substr(0, 80);
        ASSERT_GE(line.size(), tail.size());
        EXPECT_EQ(line.substr(line.size() - tail.size()), tail);
    }
}

TEST(EventLogSid, IsTheUnixUserSid)
{
    EXPECT_EQ(GetProcessUserSid(), "S-1-22-1-" + std::to_string(::geteuid()));
}

} // namespace
