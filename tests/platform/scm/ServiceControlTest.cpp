// The service layer end to end: a real service process (tq_test_service)
// installed, started, controlled and stopped under a private state root.

#include "platform/scm/ServiceChannel.h"
#include "platform/scm/ServiceCommandLine.h"
#include "platform/scm/ServiceControl.h"
#include "platform/registry/Registry.h"
#include "platform/win/LastError.h"
#include "platform/win/Process.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr const char* kName = "TestSvc";

std::string RunAndCapture(const std::string& command, int* exitCode = nullptr)
{
    std::string out;
    FILE* p = ::popen(command.c_str(), "r");
    if (p == nullptr)
        return out;
    char buf[512];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0)
        out.append(buf, n);
    int status = ::pclose(p);
    if (exitCode != nullptr)
        *exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return out;
}

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

class ServiceTest : public tqtest::StateRootTest {
protected:
    void SetUp() override
    {
        StateRootTest::SetUp();
        ::setenv("TQ_SCM_TIMEOUT_MS", "10000", 1);
        manager_ = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
        ASSERT_NE(manager_, nullptr);
    }

    void TearDown() override
    {
        // No test leaves a service process behind.
        for (const std::string& name : installed_)
            KillService(name);
        for (SC_HANDLE h : handles_)
            CloseServiceHandle(h);
        CloseServiceHandle(manager_);
        ::unsetenv("TQ_SCM_TIMEOUT_MS");
        StateRootTest::TearDown();
    }

    std::string RecordPath() const { return Root() + "/record.txt"; }
    std::vector<std::string> RecordLines() const { return Lines(tqtest::ReadFileText(RecordPath())); }

    // Registers the test service in the given mode; returns a handle with
    // every right.
    SC_HANDLE Install(const std::vector<std::string>& args, const char* name = kName)
    {
        std::vector<std::string> parts = {TQ_TEST_SERVICE_PATH};
        parts.insert(parts.end(), args.begin(), args.end());
        SC_HANDLE h = CreateServiceA(manager_, name, "Test service", SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                                     SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                                     MakeServiceCommandLine(parts).c_str());
        EXPECT_NE(h, nullptr) << GetLastError();
        installed_.push_back(name);
        handles_.push_back(h);
        return h;
    }

    SC_HANDLE InstallServing(std::vector<std::string> extra = {}, const char* name = kName)
    {
        std::vector<std::string> args = {"serve", "--name", name, "--record", RecordPath()};
        args.insert(args.end(), extra.begin(), extra.end());
        return Install(args, name);
    }

    SC_HANDLE Open(DWORD access, const char* name = kName)
    {
        SC_HANDLE h = OpenServiceA(manager_, name, access);
        if (h != nullptr)
            handles_.push_back(h);
        return h;
    }

    static SERVICE_STATUS_PROCESS Status(SC_HANDLE h)
    {
        SERVICE_STATUS_PROCESS s{};
        DWORD needed = 0;
        EXPECT_TRUE(QueryServiceStatusEx(h, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&s), sizeof s, &needed));
        return s;
    }

    // Polls until the state is reached; returns every distinct state seen on
    // the way, the last one first reached or not.
    static std::vector<DWORD> WaitForState(SC_HANDLE h, DWORD state, DWORD timeoutMs = 10000)
    {
        std::vector<DWORD> seen;
        const ULONGLONG deadline = GetTickCount64() + timeoutMs;
        while (true) {
            SERVICE_STATUS s{};
            EXPECT_TRUE(QueryServiceStatus(h, &s));
            if (seen.empty() || seen.back() != s.dwCurrentState)
                seen.push_back(s.dwCurrentState);
            if (s.dwCurrentState == state || GetTickCount64() >= deadline)
                return seen;
            Sleep(5);
        }
    }

    static bool WaitForRecord(const std::function<bool()>& done, DWORD timeoutMs = 5000)
    {
        const ULONGLONG deadline = GetTickCount64() + timeoutMs;
        while (!done()) {
            if (GetTickCount64() >= deadline)
                return false;
            Sleep(10);
        }
        return true;
    }

    bool RecordHas(const std::string& line) const
    {
        auto lines = RecordLines();
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    }

    void KillService(const std::string& name)
    {
        SC_HANDLE h = OpenServiceA(manager_, name.c_str(), SERVICE_QUERY_STATUS);
        if (h == nullptr)
            return;
        const ULONGLONG deadline = GetTickCount64() + 5000;
        while (GetTickCount64() < deadline) {
            SERVICE_STATUS_PROCESS s = Status(h);
            if (s.dwCurrentState == SERVICE_STOPPED)
                break;
            if (s.dwProcessId != 0)
                ::kill(static_cast<pid_t>(s.dwProcessId), SIGKILL);
            Sleep(10);
        }
        CloseServiceHandle(h);
    }

    SC_HANDLE manager_ = nullptr;
    std::vector<std::string> installed_;
    std::vector<SC_HANDLE> handles_;
};

TEST_F(ServiceTest, StartPassesStartPendingToRunningAndStopReportsTheExitCode)
{
    SC_HANDLE h = InstallServing({"--start-ms", "400", "--stop-ms", "400", "--exit", "1066", "--specific", "42"});
    SERVICE_STATUS_PROCESS before = Status(h);
    EXPECT_EQ(before.dwCurrentState, SERVICE_STOPPED);
    EXPECT_EQ(before.dwWin32ExitCode, ERROR_SERVICE_NEVER_STARTED);

    ASSERT_TRUE(StartServiceA(h, 0, nullptr)) << GetLastError();
    SERVICE_STATUS_PROCESS starting = Status(h);
    EXPECT_EQ(starting.dwCurrentState, SERVICE_START_PENDING);
    EXPECT_EQ(starting.dwServiceType, SERVICE_WIN32_OWN_PROCESS);
    EXPECT_NE(starting.dwProcessId, 0u);
    std::vector<DWORD> up = WaitForState(h, SERVICE_RUNNING);
    EXPECT_EQ(up, (std::vector<DWORD>{SERVICE_START_PENDING, SERVICE_RUNNING}));
    SERVICE_STATUS running{};
    ASSERT_TRUE(QueryServiceStatus(h, &running));
    EXPECT_EQ(running.dwControlsAccepted, SERVICE_ACCEPT_STOP);

    SERVICE_STATUS afterStop{};
    ASSERT_TRUE(ControlService(h, SERVICE_CONTROL_STOP, &afterStop)) << GetLastError();
    EXPECT_EQ(afterStop.dwCurrentState, SERVICE_STOP_PENDING);
    EXPECT_EQ(afterStop.dwCheckPoint, 1u);
    std::vector<DWORD> down = WaitForState(h, SERVICE_STOPPED);
    EXPECT_EQ(down, (std::vector<DWORD>{SERVICE_STOP_PENDING, SERVICE_STOPPED}));

    SERVICE_STATUS_PROCESS stopped = Status(h);
    EXPECT_EQ(stopped.dwWin32ExitCode, 1066u);
    EXPECT_EQ(stopped.dwServiceSpecificExitCode, 42u);
    EXPECT_EQ(stopped.dwProcessId, 0u);
    EXPECT_EQ(stopped.dwControlsAccepted, 0u);

    // The service's own view: argv[0] is its name, the dispatcher refuses to
    // be entered twice, and nothing may be reported after the stop.
    ASSERT_TRUE(WaitForRecord([&] { return RecordHas("dispatcher-returned"); }));
    EXPECT_TRUE(RecordHas("args TestSvc"));
    EXPECT_TRUE(RecordHas("nested " + std::to_string(ERROR_SERVICE_ALREADY_RUNNING)));
    EXPECT_TRUE(RecordHas("control 1"));
    EXPECT_TRUE(RecordHas("late-report " + std::to_string(ERROR_INVALID_HANDLE)));
}

TEST_F(ServiceTest, StartWhileRunningAndStopWhileStoppedAreRefused)
{
    SC_HANDLE h = InstallServing();
    SERVICE_STATUS s{};
    EXPECT_FALSE(ControlService(h, SERVICE_CONTROL_STOP, &s));
    EXPECT_EQ(GetLastError(), ERROR_SERVICE_NOT_ACTIVE);
    EXPECT_EQ(s.dwCurrentState, SERVICE_STOPPED);

    ASSERT_TRUE(StartServiceA(h, 0, nullptr)) << GetLastError();
    EXPECT_FALSE(StartServiceA(h, 0, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_SERVICE_ALREADY_RUNNING);
    WaitForState(h, SERVICE_RUNNING);
    EXPECT_FALSE(StartServiceA(h, 0, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_SERVICE_ALREADY_RUNNING);

    ASSERT_TRUE(ControlService(h, SERVICE_CONTROL_STOP, &s));
    WaitForState(h, SERVICE_STOPPED);
    EXPECT_FALSE(ControlService(h, SERVICE_CONTROL_STOP, &s));
    EXPECT_EQ(GetLastError(), ERROR_SERVICE_NOT_ACTIVE);
    EXPECT_FALSE(ControlService(h, SERVICE_CONTROL_INTERROGATE, &s));
    EXPECT_EQ(GetLastError(), ERROR_SERVICE_NOT_ACTIVE);
}

TEST_F(ServiceTest, UnknownAndMalformedNamesAreRefused)
{
    EXPECT_EQ(OpenServiceA(manager_, "NoSuchService", SERVICE_QUERY_STATUS), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_SERVICE_DOES_NOT_EXIST);
    for (const char* bad : {"", "a/b", "a\\b", "..", static_cast<const char*>(nullptr)}) {
        EXPECT_EQ(OpenServiceA(manager_, bad, SERVICE_QUERY_STATUS), nullptr);
        EXPECT_EQ(GetLastError(), ERROR_INVALID_NAME);
    }
    EXPECT_EQ(OpenServiceA(manager_, std::string(kMaxServiceNameLength + 1, 'x').c_str(), SERVICE_QUERY_STATUS),
              nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_NAME);

    // Names compare without case; a deleted service is unknown again.
    SC_HANDLE h = InstallServing();
    SC_HANDLE other = Open(SERVICE_QUERY_STATUS, "testsvc");
    ASSERT_NE(other, nullptr);
    ASSERT_TRUE(DeleteService(h));
    EXPECT_EQ(OpenServiceA(manager_, kName, SERVICE_QUERY_STATUS), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_SERVICE_DOES_NOT_EXIST);
    EXPECT_FALSE(StartServiceA(h, 0, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_SERVICE_DOES_NOT_EXIST);
}

TEST_F(ServiceTest, KilledServiceCountsAsStoppedAndCanStartAgain)
{
    SC_HANDLE h = InstallServing();
    ASSERT_TRUE(StartServiceA(h, 0, nullptr)) << GetLastError();
    WaitForState(h, SERVICE_RUNNING);
    SERVICE_STATUS_PROCESS running = Status(h);
    ASSERT_NE(running.dwProcessId, 0u);
    ASSERT_EQ(::kill(static_cast<pid_t>(running.dwProcessId), SIGKILL), 0);

    std::vector<DWORD> seen = WaitForState(h, SERVICE_STOPPED);
    EXPECT_EQ(seen.back(), SERVICE_STOPPED);
    SERVICE_STATUS_PROCESS dead = Status(h);
    EXPECT_EQ(dead.dwWin32ExitCode, ERROR_PROCESS_ABORTED);
    EXPECT_EQ(dead.dwProcessId, 0u);
    SERVICE_STATUS s{};
    EXPECT_FALSE(ControlService(h, SERVICE_CONTROL_STOP, &s));
    EXPECT_EQ(GetLastError(), ERROR_SERVICE_NOT_ACTIVE);

    ASSERT_TRUE(StartServiceA(h, 0, nullptr)) << GetLastError();
    EXPECT_EQ(WaitForState(h, SERVICE_RUNNING).back(), SERVICE_RUNNING);
    EXPECT_NE(Status(h).dwProcessId, running.dwProcessId);
}

TEST_F(ServiceTest, AnotherProcessQueriesAndStopsTheService)
{
    SC_HANDLE h = InstallServing();
    const std::string tool = std::string(TQ_SERVICE_TOOL_PATH) + " ";
    int code = -1;
    std::string out = RunAndCapture(tool + "query " + kName, &code);
    EXPECT_EQ(code, 0);
    EXPECT_NE(out.find("STATE: 1 STOPPED"), std::string::npos) << out;
    EXPECT_NE(out.find("WIN32_EXIT_CODE: 1077"), std::string::npos) << out;

    // Started from another process, seen from this one, and the other way.
    out = RunAndCapture(tool + "start " + kName + " 2>&1", &code);
    EXPECT_EQ(code, 0) << out;
    EXPECT_EQ(WaitForState(h, SERVICE_RUNNING).back(), SERVICE_RUNNING);
    out = RunAndCapture(tool + "query " + kName);
    EXPECT_NE(out.find("STATE: 4 RUNNING"), std::string::npos) << out;
    EXPECT_NE(out.find("PID: " + std::to_string(Status(h).dwProcessId)), std::string::npos) << out;

    out = RunAndCapture(tool + "start " + kName + " 2>&1", &code);
    EXPECT_EQ(code, 1);
    EXPECT_NE(out.find("error 1056: An instance of the service is already running."), std::string::npos) << out;

    out = RunAndCapture(tool + "stop " + kName + " 2>&1", &code);
    EXPECT_EQ(code, 0) << out;
    EXPECT_EQ(WaitForState(h, SERVICE_STOPPED).back(), SERVICE_STOPPED);
    out = RunAndCapture(tool + "query " + kName);
    EXPECT_NE(out.find("STATE: 1 STOPPED"), std::string::npos) << out;

    out = RunAndCapture(tool + "query Missing 2>&1", &code);
    EXPECT_EQ(code, 1);
    EXPECT_NE(out.find("error 1060"), std::string::npos) << out;
}

TEST_F(ServiceTest, TwoProcessesStartingAtOnceStartOneInstance)
{
    SC_HANDLE h = InstallServing({"--start-ms", "200"});
    const std::string start = std::string(TQ_SERVICE_TOOL_PATH) + " start " + kName + " 2>&1";
    int codes[2] = {-1, -1};
    std::string outs[2];
    std::thread other([&] { outs[1] = RunAndCapture(start, &codes[1]); });
    outs[0] = RunAndCapture(start, &codes[0]);
    other.join();
    EXPECT_EQ(codes[0] + codes[1], 1) << outs[0] << outs[1];
    EXPECT_NE((outs[0] + outs[1]).find("error 1056"), std::string::npos) << outs[0] << outs[1];
    EXPECT_EQ(WaitForState(h, SERVICE_RUNNING).back(), SERVICE_RUNNING);
    auto lines = RecordLines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), std::string("args TestSvc")), 1);
}

TEST_F(ServiceTest, ControlsTheServiceDoesNotTakeAreRefused)
{
    SC_HANDLE h = InstallServing({"--start-ms", "1500"});
    ASSERT_TRUE(StartServiceA(h, 0, nullptr)) << GetLastError();
    SERVICE_STATUS s{};
    // Start pending: no control gets through yet.
    EXPECT_FALSE(ControlService(h, SERVICE_CONTROL_STOP, &s));
    EXPECT_EQ(GetLastError(), ERROR_SERVICE_CANNOT_ACCEPT_CTRL);
    EXPECT_EQ(s.dwCurrentState, SERVICE_START_PENDING);
    WaitForState(h, SERVICE_RUNNING);

    // It accepts STOP only: PAUSE and CONTINUE never reach its handler.
    EXPECT_FALSE(ControlService(h, SERVICE_CONTROL_PAUSE, &s));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_SERVICE_CONTROL);
    EXPECT_EQ(s.dwCurrentState, SERVICE_RUNNING);
    EXPECT_FALSE(ControlService(h, SERVICE_CONTROL_CONTINUE, &s));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_SERVICE_CONTROL);
    // SHUTDOWN is the system's to send; unknown codes mean nothing.
    EXPECT_FALSE(ControlService(h, SERVICE_CONTROL_SHUTDOWN, &s));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_SERVICE_CONTROL);
    EXPECT_FALSE(ControlService(h, 0, &s));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(ControlService(h, 300, &s));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);

    // A handle without the right is refused before anything is sent.
    SC_HANDLE queryOnly = Open(SERVICE_QUERY_STATUS);
    EXPECT_FALSE(ControlService(queryOnly, SERVICE_CONTROL_STOP, &s));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_FALSE(StartServiceA(queryOnly, 0, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_FALSE(DeleteService(queryOnly));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    SC_HANDLE stopOnly = Open(SERVICE_STOP);
    EXPECT_FALSE(QueryServiceStatus(stopOnly, &s));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);

    for (const std::string& line : RecordLines())
        EXPECT_TRUE(line.rfind("control", 0) != 0) << line;
    EXPECT_EQ(Status(h).dwCurrentState, SERVICE_RUNNING);
}

TEST_F(ServiceTest, HandlerReceivesTheCodesAsSent)
{
    SC_HANDLE h = InstallServing({"--accept", std::to_string(SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_PAUSE_CONTINUE)});
    ASSERT_TRUE(StartServiceA(h, 0, nullptr)) << GetLastError();
    WaitForState(h, SERVICE_RUNNING);

    SERVICE_STATUS s{};
    ASSERT_TRUE(ControlService(h, SERVICE_CONTROL_PAUSE, &s)) << GetLastError();
    EXPECT_EQ(s.dwCurrentState, SERVICE_PAUSED);
    ASSERT_TRUE(ControlService(h, SERVICE_CONTROL_INTERROGATE, &s)) << GetLastError();
    EXPECT_EQ(s.dwCurrentState, SERVICE_PAUSED);
    ASSERT_TRUE(ControlService(h, SERVICE_CONTROL_CONTINUE, &s)) << GetLastError();
    EXPECT_EQ(s.dwCurrentState, SERVICE_RUNNING);
    ASSERT_TRUE(ControlService(h, 130, &s)) << GetLastError();
    ASSERT_TRUE(ControlService(h, SERVICE_CONTROL_STOP, &s)) << GetLastError();
    WaitForState(h, SERVICE_STOPPED);

    std::vector<std::string> controls;
    for (const std::string& line : RecordLines())
        if (line.rfind("control ", 0) == 0)
            controls.push_back(line);
    EXPECT_EQ(controls, (std::vector<std::string>{"control 2", "control 4", "control 3", "control 130", "control 1"}));
}

TEST_F(ServiceTest, DispatcherOfAProcessTheControllerDidNotStartFails)
{
    const std::string program = TQ_TEST_SERVICE_PATH;
    EXPECT_EQ(RunAndCapture(program + " direct"), std::to_string(ERROR_FAILED_SERVICE_CONTROLLER_CONNECT) + "\n");
    // A forged hand-over does not pass either.
    InstallServing();
    EXPECT_EQ(RunAndCapture("TQ_SERVICE_NAME=TestSvc TQ_SERVICE_LOCK_FD=0 TQ_SERVICE_CHANNEL_FD=1 " + program +
                            " direct --name TestSvc"),
              std::to_string(ERROR_FAILED_SERVICE_CONTROLLER_CONNECT) + "\n");
}

TEST_F(ServiceTest, ProgramsThatNeverServeFailTheStart)
{
    ::setenv("TQ_SCM_TIMEOUT_MS", "800", 1);
    const std::string pidFile = Root() + "/idle.pid";
    SC_HANDLE idle = Install({"idle", "--pid", pidFile}, "Idle");
    EXPECT_FALSE(StartServiceA(idle, 0, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_SERVICE_REQUEST_TIMEOUT);
    SERVICE_STATUS_PROCESS s = Status(idle);
    EXPECT_EQ(s.dwCurrentState, SERVICE_STOPPED);
    EXPECT_EQ(s.dwWin32ExitCode, ERROR_SERVICE_REQUEST_TIMEOUT);
    // The process that never connected was ended.
    pid_t pid = std::atoi(tqtest::ReadFileText(pidFile).c_str());
    ASSERT_GT(pid, 0);
    std::string stat = tqtest::ReadFileText("/proc/" + std::to_string(pid) + "/stat");
    EXPECT_TRUE(stat.empty() || stat.find(") Z") != std::string::npos) << stat;

    SC_HANDLE quit = Install({"quit"}, "Quit");
    EXPECT_FALSE(StartServiceA(quit, 0, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_PROCESS_ABORTED);

    const char* missing = "/nonexistent/program";
    SC_HANDLE gone = CreateServiceA(manager_, "Gone", nullptr, SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                                    SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, missing);
    ASSERT_NE(gone, nullptr);
    handles_.push_back(gone);
    EXPECT_FALSE(StartServiceA(gone, 0, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(Status(gone).dwWin32ExitCode, ERROR_FILE_NOT_FOUND);

    SC_HANDLE disabled = CreateServiceA(manager_, "Off", nullptr, SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                                        SERVICE_DISABLED, SERVICE_ERROR_NORMAL, TQ_TEST_SERVICE_PATH);
    ASSERT_NE(disabled, nullptr);
    handles_.push_back(disabled);
    EXPECT_FALSE(StartServiceA(disabled, 0, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_SERVICE_DISABLED);
}

TEST_F(ServiceTest, HandlerThatDoesNotReturnInTimeFailsTheControl)
{
    SC_HANDLE h = InstallServing({"--block-ms", "1500"});
    ASSERT_TRUE(StartServiceA(h, 0, nullptr)) << GetLastError();
    WaitForState(h, SERVICE_RUNNING);
    ::setenv("TQ_SCM_TIMEOUT_MS", "300", 1);
    SERVICE_STATUS s{};
    EXPECT_FALSE(ControlService(h, 200, &s));
    EXPECT_EQ(GetLastError(), ERROR_SERVICE_REQUEST_TIMEOUT);
    ::setenv("TQ_SCM_TIMEOUT_MS", "10000", 1);
    // Once the handler is back the service takes controls again.
    ASSERT_TRUE(ControlService(h, SERVICE_CONTROL_STOP, &s)) << GetLastError();
    EXPECT_EQ(WaitForState(h, SERVICE_STOPPED).back(), SERVICE_STOPPED);
}

TEST_F(ServiceTest, RestartRightAfterTheStopReportSucceeds)
{
    // The service winds down for a while after it reported the stop, as the
    // server does when it logs its last event.
    SC_HANDLE h = InstallServing({"--tail-ms", "1500"});
    ASSERT_TRUE(StartServiceA(h, 0, nullptr)) << GetLastError();
    WaitForState(h, SERVICE_RUNNING);
    DWORD firstPid = Status(h).dwProcessId;
    SERVICE_STATUS s{};
    ASSERT_TRUE(ControlService(h, SERVICE_CONTROL_STOP, &s));
    WaitForState(h, SERVICE_STOPPED);
    ASSERT_TRUE(StartServiceA(h, 0, nullptr)) << GetLastError();
    EXPECT_EQ(WaitForState(h, SERVICE_RUNNING).back(), SERVICE_RUNNING);
    EXPECT_NE(Status(h).dwProcessId, firstPid);
    EXPECT_FALSE(RecordHas("main-returned")); // the first one was still winding down
    ::kill(static_cast<pid_t>(firstPid), SIGKILL);
}

TEST_F(ServiceTest, StartArgumentsFollowTheServiceName)
{
    SC_HANDLE h = InstallServing();
    const char* args[] = {"one", "two words", ""};
    ASSERT_TRUE(StartServiceA(h, 3, args)) << GetLastError();
    ASSERT_TRUE(WaitForRecord([&] { return RecordHas("args TestSvc one two words "); }));
    EXPECT_FALSE(StartServiceA(h, 1, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST_F(ServiceTest, DeletingARunningServiceWaitsForItsStop)
{
    SC_HANDLE h = InstallServing();
    ASSERT_TRUE(StartServiceA(h, 0, nullptr)) << GetLastError();
    WaitForState(h, SERVICE_RUNNING);
    ASSERT_TRUE(DeleteService(h)) << GetLastError();
    EXPECT_FALSE(DeleteService(h));
    EXPECT_EQ(GetLastError(), ERROR_SERVICE_MARKED_FOR_DELETE);
    // Still there while it runs, and still controllable.
    SC_HANDLE again = Open(SERVICE_QUERY_STATUS | SERVICE_STOP);
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(CreateServiceA(manager_, kName, nullptr, SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                             SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, TQ_TEST_SERVICE_PATH),
              nullptr);
    EXPECT_EQ(GetLastError(), ERROR_SERVICE_MARKED_FOR_DELETE);
    SERVICE_STATUS s{};
    ASSERT_TRUE(ControlService(again, SERVICE_CONTROL_STOP, &s));
    WaitForState(h, SERVICE_STOPPED);
    EXPECT_FALSE(StartServiceA(h, 0, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_SERVICE_MARKED_FOR_DELETE);

    EXPECT_EQ(OpenServiceA(manager_, kName, SERVICE_QUERY_STATUS), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_SERVICE_DOES_NOT_EXIST);
    // The name is free again, with no trace of the old run.
    SC_HANDLE fresh = InstallServing();
    ASSERT_NE(fresh, nullptr);
    EXPECT_EQ(Status(fresh).dwWin32ExitCode, ERROR_SERVICE_NEVER_STARTED);
}

TEST_F(ServiceTest, CreateChecksItsArguments)
{
    auto create = [&](const char* name, DWORD type, DWORD start, const char* path) {
        SC_HANDLE h = CreateServiceA(manager_, name, nullptr, SERVICE_ALL_ACCESS, type, start, SERVICE_ERROR_NORMAL,
                                     path);
        if (h != nullptr)
            handles_.push_back(h);
        return h;
    };
    InstallServing();
    EXPECT_EQ(create(kName, SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, "/bin/true"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_SERVICE_EXISTS);
    EXPECT_EQ(create("Rel", SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, "bin/true"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_BAD_PATHNAME);
    EXPECT_EQ(create("Rel", SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, "   "), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_BAD_PATHNAME);
    EXPECT_EQ(create("Drv", SERVICE_KERNEL_DRIVER, SERVICE_DEMAND_START, "/bin/true"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(create("Boot", SERVICE_WIN32_OWN_PROCESS, SERVICE_BOOT_START, "/bin/true"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(create("Null", SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, nullptr), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);

    SC_HANDLE connectOnly = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    ASSERT_NE(connectOnly, nullptr);
    EXPECT_EQ(CreateServiceA(connectOnly, "X", nullptr, SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                             SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, "/bin/true"),
              nullptr);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    ASSERT_TRUE(CloseServiceHandle(connectOnly));
    EXPECT_FALSE(CloseServiceHandle(connectOnly));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_EQ(OpenServiceA(connectOnly, kName, SERVICE_QUERY_STATUS), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);

    EXPECT_EQ(OpenSCManagerA("otherhost", nullptr, SC_MANAGER_CONNECT), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(RPC_S_SERVER_UNAVAILABLE));
    EXPECT_EQ(OpenSCManagerA(nullptr, "Elsewhere", SC_MANAGER_CONNECT), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_DATABASE_DOES_NOT_EXIST);
}

TEST_F(ServiceTest, QueryBufferAndStatusFileEdgeCases)
{
    SC_HANDLE h = InstallServing();
    BYTE small[8];
    DWORD needed = 0;
    EXPECT_FALSE(QueryServiceStatusEx(h, SC_STATUS_PROCESS_INFO, small, sizeof small, &needed));
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(needed, sizeof(SERVICE_STATUS_PROCESS));
    SERVICE_STATUS_PROCESS p{};
    EXPECT_FALSE(QueryServiceStatusEx(h, 7, reinterpret_cast<BYTE*>(&p), sizeof p, &needed));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_LEVEL);

    // A damaged status record reads as a service that never ran.
    ASSERT_TRUE(tqtest::WriteFileText(Root() + "/run/services/testsvc.status", "garbage"));
    SERVICE_STATUS s{};
    ASSERT_TRUE(QueryServiceStatus(h, &s));
    EXPECT_EQ(s.dwCurrentState, SERVICE_STOPPED);
    EXPECT_EQ(s.dwWin32ExitCode, ERROR_SERVICE_NEVER_STARTED);
    ASSERT_TRUE(StartServiceA(h, 0, nullptr)) << GetLastError();
    EXPECT_EQ(WaitForState(h, SERVICE_RUNNING).back(), SERVICE_RUNNING);
}

TEST_F(ServiceTest, WorksUnderAStateRootTooLongForASocketAddress)
{
    std::string deep = Root() + "/" + std::string(60, 'd') + "/" + std::string(60, 'e');
    ::setenv("TQ_STATE_ROOT", deep.c_str(), 1);
    CloseServiceHandle(manager_);
    manager_ = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    SC_HANDLE h = InstallServing();
    ASSERT_TRUE(StartServiceA(h, 0, nullptr)) << GetLastError();
    WaitForState(h, SERVICE_RUNNING);
    SERVICE_STATUS s{};
    ASSERT_TRUE(ControlService(h, SERVICE_CONTROL_STOP, &s)) << GetLastError();
    EXPECT_EQ(WaitForState(h, SERVICE_STOPPED).back(), SERVICE_STOPPED);
}

TEST_F(ServiceTest, OnlyRootAndTheOwnerMayControl)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to act as another user";
    SC_HANDLE h = InstallServing();
    ASSERT_TRUE(StartServiceA(h, 0, nullptr)) << GetLastError();
    WaitForState(h, SERVICE_RUNNING);
    // Let another user reach the state root.
    for (std::filesystem::path p = Root(); p != p.root_path(); p = p.parent_path())
        ::chmod(p.c_str(), 0755);
    std::filesystem::permissions(RegistryFilePath(), std::filesystem::perms::others_read,
                                 std::filesystem::perm_options::add);

    pid_t child = ::fork();
    if (child == 0) {
        if (::setresgid(65534, 65534, 65534) != 0 || ::setresuid(65534, 65534, 65534) != 0)
            ::_exit(10);
        SC_HANDLE m = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
        if (m == nullptr)
            ::_exit(11);
        if (OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CREATE_SERVICE) != nullptr ||
            GetLastError() != ERROR_ACCESS_DENIED)
            ::_exit(12);
        SC_HANDLE q = OpenServiceA(m, kName, SERVICE_QUERY_STATUS | SERVICE_INTERROGATE);
        SERVICE_STATUS s{};
        if (q == nullptr || !QueryServiceStatus(q, &s) || s.dwCurrentState != SERVICE_RUNNING)
            ::_exit(13);
        if (!ControlService(q, SERVICE_CONTROL_INTERROGATE, &s))
            ::_exit(14);
        if (OpenServiceA(m, kName, SERVICE_STOP) != nullptr || GetLastError() != ERROR_ACCESS_DENIED)
            ::_exit(15);
        if (OpenServiceA(m, kName, GENERIC_EXECUTE) != nullptr || GetLastError() != ERROR_ACCESS_DENIED)
            ::_exit(16);
        // Going round the handle check straight to the socket does not help.
        int fd = tq::scm::ConnectTo(Root() + "/run/services/testsvc.sock");
        tq::scm::ControlRequest stop{tq::scm::kControlMagic, SERVICE_CONTROL_STOP};
        tq::scm::ControlReply reply{};
        if (fd < 0 || !tq::scm::WriteExact(fd, &stop, sizeof stop) ||
            tq::scm::ReadExact(fd, &reply, sizeof reply, GetTickCount64() + 5000) != tq::scm::IoResult::Ok ||
            reply.error != ERROR_ACCESS_DENIED || reply.status.dwCurrentState != SERVICE_RUNNING)
            ::_exit(17);
        ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(Status(h).dwCurrentState, SERVICE_RUNNING);

    // The owner of the services folder holds the rights without being root.
    ASSERT_EQ(::chown((Root() + "/run/services").c_str(), 65534, 65534), 0);
    child = ::fork();
    if (child == 0) {
        if (::setresgid(65534, 65534, 65534) != 0 || ::setresuid(65534, 65534, 65534) != 0)
            ::_exit(10);
        SC_HANDLE m = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
        SC_HANDLE c = m != nullptr ? OpenServiceA(m, kName, SERVICE_STOP) : nullptr;
        SERVICE_STATUS s{};
        ::_exit(c != nullptr && ControlService(c, SERVICE_CONTROL_STOP, &s) ? 0 : 20);
    }
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(WaitForState(h, SERVICE_STOPPED).back(), SERVICE_STOPPED);
}

} // namespace
