#include "tests/server/host/program/TqwlProcess.h"

#include "common/Names.h"
#include "platform/scm/ServiceControl.h"
#include "platform/win/LastError.h"
#include "platform/win/Process.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <chrono>
#include <thread>

using tqtest::InvokeOverRpc;
using tqtest::RunProgram;

namespace {

constexpr int kDefaultPort = 34347;

class TqwlServiceTest : public tqtest::StateRootTest {
protected:
    void SetUp() override
    {
        StateRootTest::SetUp();
        ASSERT_EQ(RunProgram({TQWL_SETUP, "install", TQWL_PROGRAM, Root() + "/storage", "--service"}), 0);
        manager_ = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
        ASSERT_NE(manager_, nullptr);
        service_ = OpenServiceA(manager_, tq::kServiceName, SERVICE_QUERY_STATUS | SERVICE_START | SERVICE_STOP);
        ASSERT_NE(service_, nullptr);
    }
    void TearDown() override
    {
        SERVICE_STATUS_PROCESS info{};
        DWORD needed = 0;
        if (service_ != nullptr &&
            QueryServiceStatusEx(service_, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&info), sizeof info,
                                 &needed) &&
            info.dwProcessId != 0 && info.dwCurrentState != SERVICE_STOPPED)
            ::kill(static_cast<pid_t>(info.dwProcessId), SIGKILL);
        if (service_ != nullptr)
            CloseServiceHandle(service_);
        if (manager_ != nullptr)
            CloseServiceHandle(manager_);
        StateRootTest::TearDown();
    }

    DWORD State()
    {
        SERVICE_STATUS status{};
        return QueryServiceStatus(service_, &status) ? status.dwCurrentState : 0;
    }
    DWORD Pid()
    {
        SERVICE_STATUS_PROCESS info{};
        DWORD needed = 0;
        QueryServiceStatusEx(service_, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&info), sizeof info, &needed);
        return info.dwProcessId;
    }
    // Polls the state until it is the one wanted, keeping each new state seen.
    bool WaitFor(DWORD wanted, std::vector<DWORD>* seen = nullptr, int timeoutMs = 15000)
    {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (std::chrono::steady_clock::now() < deadline) {
            DWORD state = State();
            if (seen != nullptr && (seen->empty() || seen->back() != state))
                seen->push_back(state);
            if (state == wanted)
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return false;
    }

    SC_HANDLE manager_ = nullptr;
    SC_HANDLE service_ = nullptr;
};

bool InOrder(const std::vector<DWORD>& seen)
{
    const std::vector<DWORD> order{SERVICE_STOPPED, SERVICE_START_PENDING, SERVICE_RUNNING, SERVICE_STOP_PENDING,
                                   SERVICE_STOPPED};
    size_t at = 0;
    for (DWORD s : seen) {
        while (at < order.size() && order[at] != s)
            ++at;
        if (at == order.size())
            return false;
    }
    return true;
}

} // namespace

TEST_F(TqwlServiceTest, RunsUnderTheControllerAndStops)
{
    std::vector<DWORD> seen{State()};
    ASSERT_TRUE(StartServiceA(service_, 0, nullptr)) << GetLastError();
    ASSERT_TRUE(WaitFor(SERVICE_RUNNING, &seen));
    ASSERT_TRUE(tqtest::TqwlProcess(Root()).WaitForPort(kDefaultPort));

    CInvokeData call(1007), reply;
    call.PushInString("nothing.txt");
    EXPECT_EQ(InvokeOverRpc(kDefaultPort, call, reply), 0);
    EXPECT_EQ(reply.result, HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));

    SERVICE_STATUS status{};
    ASSERT_TRUE(ControlService(service_, SERVICE_CONTROL_STOP, &status)) << GetLastError();
    ASSERT_TRUE(WaitFor(SERVICE_STOPPED, &seen));
    EXPECT_TRUE(InOrder(seen));
    EXPECT_NE(std::find(seen.begin(), seen.end(), SERVICE_RUNNING), seen.end());
    QueryServiceStatus(service_, &status);
    EXPECT_EQ(status.dwWin32ExitCode, 0u);

    // In service mode the host messages go to the event log only.
    std::string log = EventLogText();
    EXPECT_NE(log.find("Service stopped"), std::string::npos) << log;
    EXPECT_NE(log.find("Virtual server on port 34347 stopped"), std::string::npos) << log;
    EXPECT_TRUE(std::filesystem::exists(Root() + "/storage/complist.fdb"));
}

TEST_F(TqwlServiceTest, PauseAndUnknownControlsLeaveItRunning)
{
    ASSERT_TRUE(StartServiceA(service_, 0, nullptr)) << GetLastError();
    ASSERT_TRUE(WaitFor(SERVICE_RUNNING));
    SERVICE_STATUS status{};
    // Only STOP is accepted: the controller refuses the rest before they reach the handler.
    EXPECT_FALSE(ControlService(service_, SERVICE_CONTROL_PAUSE, &status));
    SC_HANDLE asker = OpenServiceA(manager_, tq::kServiceName, SERVICE_INTERROGATE);
    ASSERT_NE(asker, nullptr);
    EXPECT_TRUE(ControlService(asker, SERVICE_CONTROL_INTERROGATE, &status)) << GetLastError();
    CloseServiceHandle(asker);
    EXPECT_EQ(State(), static_cast<DWORD>(SERVICE_RUNNING));
    ASSERT_TRUE(ControlService(service_, SERVICE_CONTROL_STOP, &status));
    EXPECT_TRUE(WaitFor(SERVICE_STOPPED));
}

TEST_F(TqwlServiceTest, RestartSwitchRestartsARunningService)
{
    ASSERT_TRUE(StartServiceA(service_, 0, nullptr)) << GetLastError();
    ASSERT_TRUE(WaitFor(SERVICE_RUNNING));
    const DWORD before = Pid();
    std::string out;
    EXPECT_EQ(RunProgram({TQWL_PROGRAM, "-restartservice"}, &out), 0) << out;
    ASSERT_TRUE(WaitFor(SERVICE_RUNNING));
    EXPECT_NE(Pid(), before);
    EXPECT_NE(Pid(), 0u);
    SERVICE_STATUS status{};
    ControlService(service_, SERVICE_CONTROL_STOP, &status);
    EXPECT_TRUE(WaitFor(SERVICE_STOPPED));
}

TEST_F(TqwlServiceTest, RestartSwitchLeavesAStoppedServiceStopped)
{
    std::string out;
    // The stop fails with "not active"; the exit status carries the HRESULT's low byte.
    const int expected = static_cast<int>(static_cast<DWORD>(HRESULT_FROM_WIN32(ERROR_SERVICE_NOT_ACTIVE)) & 0xFF);
    EXPECT_EQ(RunProgram({TQWL_PROGRAM, "/RestartService"}, &out), expected) << out;
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(State(), static_cast<DWORD>(SERVICE_STOPPED));
}

TEST_F(TqwlServiceTest, ServiceProgramRunByHandFailsToReachTheController)
{
    // With "LocalService" set, a start by hand enters the dispatcher, which refuses it.
    std::string out;
    EXPECT_EQ(RunProgram({TQWL_PROGRAM}, &out), static_cast<int>(ERROR_FAILED_SERVICE_CONTROLLER_CONNECT & 0xFF))
        << out;
}
