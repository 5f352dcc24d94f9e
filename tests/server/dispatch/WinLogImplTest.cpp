#include "server/dispatch/WinLogImpl.h"

#include "platform/win/Process.h"
#include "tests/support/LogPipeReader.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

using tqtest::LogPipeReader;

namespace {

class WinLogImplTest : public tqtest::StateRootTest {};

} // namespace

TEST_F(WinLogImplTest, PipeNameCarriesThePort)
{
    EXPECT_EQ(CWinLogImpl::CallPipeName(34347), "\\\\.\\pipe\\TQC.Log.34347");
    EXPECT_EQ(CWinLogImpl::CallPipeName(0), "\\\\.\\pipe\\TQC.Log");
}

TEST_F(WinLogImplTest, CallRecordArrivesFieldByFieldWithItsNul)
{
    LogPipeReader reader(CWinLogImpl::CallPipeName(34347));
    CWinLogImpl log(34347);
    log.LogCall(LogCallBegin, 1004, "0f1e2d3c-4b5a-6978-8796-a5b4c3d2e1f0", "CloseFile(123)", 0, "WinFileImpl",
                "CWinFileImpl::OnCloseFile", 539);
    auto messages = reader.WaitFor(1);
    ASSERT_EQ(messages.size(), 1u);
    const std::string& m = messages[0];
    ASSERT_FALSE(m.empty());
    EXPECT_EQ(m.back(), '\0');
    EXPECT_EQ(m.find('\0'), m.size() - 1);
    auto f = LogPipeReader::Fields(m);
    ASSERT_EQ(f.size(), 9u);
    EXPECT_EQ(f[0], "0");
    EXPECT_EQ(f[1], "1004");
    EXPECT_EQ(f[2], "0");
    EXPECT_EQ(f[3], "0f1e2d3c-4b5a-6978-8796-a5b4c3d2e1f0");
    EXPECT_EQ(f[4], "CloseFile(123)");
    EXPECT_EQ(f[5], "WinFileImpl");
    EXPECT_EQ(f[6], "CWinFileImpl::OnCloseFile");
    EXPECT_EQ(f[7], "539");
    EXPECT_EQ(f[8], std::to_string(GetCurrentThreadId()));
}

TEST_F(WinLogImplTest, ExceptionRecordsAndMissingTexts)
{
    LogPipeReader reader(CWinLogImpl::CallPipeName(7));
    CWinLogImpl log(7);
    log.LogCall(LogCallException, 2017, nullptr, nullptr, E_UNEXPECTED, nullptr, nullptr, 12);
    // Texts are sent unescaped.
    log.LogCall(LogCallEnd, 2017, "g", "a|b", S_OK, "s", "f", 1);
    auto messages = reader.WaitFor(2);
    ASSERT_EQ(messages.size(), 2u);
    auto f = LogPipeReader::Fields(messages[0]);
    ASSERT_EQ(f.size(), 9u);
    EXPECT_EQ(f[0], "2");
    EXPECT_EQ(f[2], "-2147418113");
    EXPECT_EQ(f[3], "N/A");
    EXPECT_EQ(f[4], "N/A");
    EXPECT_EQ(f[5], "N/A");
    EXPECT_EQ(f[6], "N/A");
    EXPECT_EQ(LogPipeReader::Fields(messages[1]).size(), 10u);
}

TEST_F(WinLogImplTest, InfoRecordsGoToTheInfoPipe)
{
    LogPipeReader info("\\\\.\\pipe\\TQC.Log.Info");
    CWinLogImpl log(34347);
    log.LogInfo("hello");
    auto messages = info.WaitFor(1);
    ASSERT_EQ(messages.size(), 1u);
    auto f = LogPipeReader::Fields(messages[0]);
    ASSERT_EQ(f.size(), 3u);
    EXPECT_EQ(f[0], "hello");
    EXPECT_EQ(f[1], std::to_string(GetCurrentThreadId()));
    EXPECT_EQ(f[2], GetModuleFileName());
}

TEST_F(WinLogImplTest, NoReaderDropsRecordsAtOnce)
{
    CWinLogImpl log(34347);
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 100; ++i)
        EXPECT_EQ(log.LogCall(LogCallBegin, 1, "g", "m", 0, "s", "f", 1), S_OK);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

TEST_F(WinLogImplTest, ManyWritersNeverInterleave)
{
    LogPipeReader reader(CWinLogImpl::CallPipeName(34347));
    CWinLogImpl log(34347);
    const std::string longText(2000, 'x');
    std::vector<std::thread> writers;
    for (int t = 0; t < 8; ++t)
        writers.emplace_back([&] {
            for (int i = 0; i < 25; ++i)
                log.LogCall(LogCallEnd, i, "g", longText.c_str(), 0, "s", "f", i);
        });
    for (auto& w : writers)
        w.join();
    // A record can be dropped only when the pipe stayed busy for a second; here every one arrives.
    auto messages = reader.WaitFor(200, 10000);
    EXPECT_EQ(messages.size(), 200u);
    for (const auto& m : messages)
        ASSERT_EQ(LogPipeReader::Fields(m)[4], longText);
}

TEST_F(WinLogImplTest, EventsReachTheEventLogUnderTqrt)
{
    CWinLogImpl log(34347);
    const char* strings[] = {"one", "two"};
    log.ReportEvent(1, 0, 77, 2, strings, 0, nullptr);
    std::string text = EventLogText();
    EXPECT_NE(text.find("TQRT"), std::string::npos);
    EXPECT_NE(text.find("0x0000004D"), std::string::npos);
    EXPECT_NE(text.find("one\ttwo"), std::string::npos);
}

TEST_F(WinLogImplTest, BusyPipeDropsTheRecordAfterAboutASecond)
{
    // A server that takes up no client: its queue fills and stays full.
    CNamedPipeServer stuck;
    ASSERT_EQ(stuck.Create(CWinLogImpl::CallPipeName(34347), 1), ERROR_SUCCESS);
    CWinLogImpl log(34347);
    std::chrono::steady_clock::duration longest{};
    for (int i = 0; i < 4; ++i) {
        auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(log.LogCall(LogCallBegin, i, "g", "m", 0, "s", "f", 1), S_OK);
        longest = std::max(longest, std::chrono::steady_clock::now() - start);
    }
    // At least one writer found every instance busy, waited, and gave up.
    EXPECT_GE(longest, std::chrono::milliseconds(900));
    EXPECT_LT(longest, std::chrono::milliseconds(3000));
    stuck.Close();
}
