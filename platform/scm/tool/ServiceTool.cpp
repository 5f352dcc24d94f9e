// tqservice: the services of a state root from the command line.
//
//   tqservice create <name> <display name> <program> [arguments...]
//   tqservice delete <name>
//   tqservice start <name>
//   tqservice stop <name>
//   tqservice query <name>
//
// Exit code 0 on success, 1 on a failure (its error number and text go to
// standard error), 2 on a usage error.

#include "platform/scm/ServiceCommandLine.h"
#include "platform/scm/ServiceControl.h"
#include "platform/win/LastError.h"
#include "platform/win/SystemMessage.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace {

const char* StateName(DWORD state)
{
    switch (state) {
    case SERVICE_STOPPED: return "STOPPED";
    case SERVICE_START_PENDING: return "START_PENDING";
    case SERVICE_STOP_PENDING: return "STOP_PENDING";
    case SERVICE_RUNNING: return "RUNNING";
    case SERVICE_CONTINUE_PENDING: return "CONTINUE_PENDING";
    case SERVICE_PAUSE_PENDING: return "PAUSE_PENDING";
    case SERVICE_PAUSED: return "PAUSED";
    default: return "UNKNOWN";
    }
}

int Failed(const char* what)
{
    DWORD err = GetLastError();
    std::string text = GetSystemMessageText(err);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    std::fprintf(stderr, "tqservice: %s failed: error %u: %s\n", what, err, text.empty() ? "Unknown error" : text.c_str());
    return 1;
}

int Usage()
{
    std::fprintf(stderr, "usage: tqservice create <name> <display name> <program> [arguments...]\n"
                         "       tqservice delete|start|stop|query <name>\n");
    return 2;
}

struct Handles {
    SC_HANDLE manager = nullptr;
    SC_HANDLE service = nullptr;
    ~Handles()
    {
        if (service != nullptr)
            CloseServiceHandle(service);
        if (manager != nullptr)
            CloseServiceHandle(manager);
    }
};

int Create(const std::vector<std::string>& a)
{
    if (a.size() < 5)
        return Usage();
    std::vector<std::string> parts(a.begin() + 4, a.end());
    std::error_code ec;
    parts[0] = std::filesystem::absolute(parts[0], ec).lexically_normal().string();
    Handles h;
    h.manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT | SC_MANAGER_CREATE_SERVICE);
    if (h.manager == nullptr)
        return Failed("OpenSCManager");
    h.service = CreateServiceA(h.manager, a[2].c_str(), a[3].c_str(), SERVICE_QUERY_STATUS, SERVICE_WIN32_OWN_PROCESS,
                               SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, MakeServiceCommandLine(parts).c_str());
    return h.service == nullptr ? Failed("CreateService") : 0;
}

int Other(const std::string& command, const std::string& name)
{
    DWORD access = command == "delete" ? DELETE
                   : command == "start" ? SERVICE_START
                   : command == "stop"  ? SERVICE_STOP
                                        : SERVICE_QUERY_STATUS;
    Handles h;
    h.manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (h.manager == nullptr)
        return Failed("OpenSCManager");
    h.service = OpenServiceA(h.manager, name.c_str(), access);
    if (h.service == nullptr)
        return Failed("OpenService");
    if (command == "delete")
        return DeleteService(h.service) ? 0 : Failed("DeleteService");
    if (command == "start")
        return StartServiceA(h.service, 0, nullptr) ? 0 : Failed("StartService");
    SERVICE_STATUS_PROCESS s{};
    if (command == "stop") {
        SERVICE_STATUS st{};
        return ControlService(h.service, SERVICE_CONTROL_STOP, &st) ? 0 : Failed("ControlService");
    }
    DWORD needed = 0;
    if (!QueryServiceStatusEx(h.service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&s), sizeof s, &needed))
        return Failed("QueryServiceStatusEx");
    std::printf("SERVICE_NAME: %s\nSTATE: %u %s\nWIN32_EXIT_CODE: %u\nSERVICE_EXIT_CODE: %u\nCHECKPOINT: %u\n"
                "WAIT_HINT: %u\nPID: %u\n",
                name.c_str(), s.dwCurrentState, StateName(s.dwCurrentState), s.dwWin32ExitCode,
                s.dwServiceSpecificExitCode, s.dwCheckPoint, s.dwWaitHint, s.dwProcessId);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> a(argv, argv + argc);
    if (a.size() < 3)
        return Usage();
    if (a[1] == "create")
        return Create(a);
    if (a.size() != 3 || (a[1] != "delete" && a[1] != "start" && a[1] != "stop" && a[1] != "query"))
        return Usage();
    return Other(a[1], a[2]);
}
