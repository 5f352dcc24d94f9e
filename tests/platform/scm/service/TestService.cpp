// A small service for the tests of the service layer. Modes:
//   serve  [--name N] [--accept MASK] [--exit N] [--specific N] [--start-ms N]
//          [--stop-ms N] [--tail-ms N] [--block-ms N] [--record FILE]
//          enters the dispatcher and behaves as a service; every control it
//          receives goes to the record file as "control <code>".
//   idle   [--pid FILE]  never enters the dispatcher.
//   quit   ends at once, without the dispatcher.
//   direct enters the dispatcher and prints the error it gives.

#include "platform/scm/ServiceControl.h"
#include "platform/win/LastError.h"
#include "platform/win/Process.h"

#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <string>
#include <unistd.h>

namespace {

struct Options {
    std::string name = "TestSvc";
    DWORD accept = SERVICE_ACCEPT_STOP;
    DWORD exitCode = 0;
    DWORD specific = 0;
    DWORD startMs = 0;
    DWORD stopMs = 0;
    DWORD tailMs = 0;
    DWORD blockMs = 0;
    std::string record;
    std::string pidFile;
};

Options g_options;
SERVICE_STATUS_HANDLE g_handle = nullptr;
SERVICE_STATUS g_status{};
std::mutex g_mutex;
std::condition_variable g_stopSignal;
bool g_stop = false;

void Record(const std::string& line)
{
    if (g_options.record.empty())
        return;
    std::ofstream out(g_options.record, std::ios::app);
    out << line << "\n";
}

void Report(DWORD state, DWORD checkPoint = 0, DWORD waitHint = 0)
{
    g_status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    g_status.dwCurrentState = state;
    g_status.dwControlsAccepted = state == SERVICE_START_PENDING ? 0 : g_options.accept;
    g_status.dwCheckPoint = checkPoint;
    g_status.dwWaitHint = waitHint;
    if (state == SERVICE_STOPPED) {
        g_status.dwWin32ExitCode = g_options.exitCode;
        g_status.dwServiceSpecificExitCode = g_options.specific;
    }
    if (!SetServiceStatus(g_handle, &g_status))
        Record("report-failed " + std::to_string(GetLastError()));
}

void Handler(DWORD control)
{
    Record("control " + std::to_string(control));
    switch (control) {
    case SERVICE_CONTROL_STOP: {
        Report(SERVICE_STOP_PENDING, 1, 3000);
        std::lock_guard<std::mutex> lock(g_mutex);
        g_stop = true;
        g_stopSignal.notify_all();
        break;
    }
    case SERVICE_CONTROL_PAUSE: Report(SERVICE_PAUSED); break;
    case SERVICE_CONTROL_CONTINUE: Report(SERVICE_RUNNING); break;
    case SERVICE_CONTROL_INTERROGATE: Report(g_status.dwCurrentState); break;
    case 200: Sleep(g_options.blockMs); break;
    default: break;
    }
}

void ServiceMain(DWORD argc, char** argv)
{
    g_handle = RegisterServiceCtrlHandlerA(g_options.name.c_str(), Handler);
    if (g_handle == nullptr) {
        Record("register-failed " + std::to_string(GetLastError()));
        return;
    }
    std::string args = "args";
    for (DWORD i = 0; i < argc; ++i)
        args += std::string(" ") + argv[i];
    Record(args);
    SERVICE_TABLE_ENTRYA again[] = {{g_options.name.c_str(), ServiceMain}, {nullptr, nullptr}};
    Record("nested " + std::to_string(StartServiceCtrlDispatcherA(again) ? 0 : GetLastError()));
    Report(SERVICE_START_PENDING, 1, 2000);
    Sleep(g_options.startMs);
    Report(SERVICE_RUNNING);
    {
        std::unique_lock<std::mutex> lock(g_mutex);
        g_stopSignal.wait(lock, [] { return g_stop; });
    }
    Sleep(g_options.stopMs);
    Report(SERVICE_STOPPED);
    SERVICE_STATUS late = g_status;
    late.dwCurrentState = SERVICE_RUNNING;
    Record("late-report " + std::to_string(SetServiceStatus(g_handle, &late) ? 0 : GetLastError()));
    Sleep(g_options.tailMs);
    Record("main-returned");
}

DWORD Number(const char* text)
{
    return static_cast<DWORD>(std::strtoul(text, nullptr, 0));
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2)
        return 2;
    std::string mode = argv[1];
    for (int i = 2; i + 1 < argc; i += 2) {
        std::string opt = argv[i];
        const char* v = argv[i + 1];
        if (opt == "--name") g_options.name = v;
        else if (opt == "--accept") g_options.accept = Number(v);
        else if (opt == "--exit") g_options.exitCode = Number(v);
        else if (opt == "--specific") g_options.specific = Number(v);
        else if (opt == "--start-ms") g_options.startMs = Number(v);
        else if (opt == "--stop-ms") g_options.stopMs = Number(v);
        else if (opt == "--tail-ms") g_options.tailMs = Number(v);
        else if (opt == "--block-ms") g_options.blockMs = Number(v);
        else if (opt == "--record") g_options.record = v;
        else if (opt == "--pid") g_options.pidFile = v;
    }
    SERVICE_TABLE_ENTRYA table[] = {{g_options.name.c_str(), ServiceMain}, {nullptr, nullptr}};
    if (mode == "serve") {
        if (!StartServiceCtrlDispatcherA(table)) {
            std::printf("dispatcher failed: %u\n", GetLastError());
            return 3;
        }
        Record("dispatcher-returned");
        return 0;
    }
    if (mode == "idle") {
        if (!g_options.pidFile.empty())
            std::ofstream(g_options.pidFile) << ::getpid();
        Sleep(120000);
        return 0;
    }
    if (mode == "quit")
        return 7;
    if (mode == "direct") {
        BOOL ok = StartServiceCtrlDispatcherA(table);
        std::printf("%u\n", ok ? 0u : GetLastError());
        return 0;
    }
    return 2;
}
