#pragma once
// The server program's module: it builds the virtual servers from the
// registry, opens their RPC endpoints (the interface's stub is
// CRemoteInvokeStub), runs as a service or in its own process, and stops
// them again.

#include "platform/rpc/RpcServer.h"
#include "platform/scm/ServiceControl.h"
#include "platform/win/WinTypes.h"
#include "common/callrecord/InvokeData.h"
#include "server/dispatch/ServerImpl.h"
#include "server/host/RemoteInvokeStub.h"

#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class CWindowsServerModule {
public:
    CWindowsServerModule();
    virtual ~CWindowsServerModule();
    CWindowsServerModule(const CWindowsServerModule&) = delete;
    CWindowsServerModule& operator=(const CWindowsServerModule&) = delete;

    // The module of this process, for the RPC procedures and the control handler.
    static CWindowsServerModule* Current();
    // Hands a control to the module of this process, if there is one; safe
    // from any thread at any time, also while the module is being destroyed.
    static void ControlCurrent(DWORD control);

    // The program's command line without the program name; true to go on
    // starting, false when the restart switch was handled (exitCode says how).
    bool ParseCommandLine(const char* commandLine, int* exitCode);
    // Runs as a service or in this process, as the AppID key says.
    int Start();
    void ServiceMain(DWORD argc, char** argv);
    void Handler(DWORD control);
    // Builds the servers, listens, waits for the stop, shuts the servers down.
    int Run();

    void CreateVirtualServers();
    // Endpoints, interfaces and listening; E_FAIL only when listening could not start.
    HRESULT PreMessageLoop();
    HRESULT DispatchToServer(LONG port, CInvokeData* record);
    // What the service control handler does for SERVICE_CONTROL_STOP; also
    // how SIGINT and SIGTERM stop the program.
    void RequestStop();
    // Releases the servers and the RPC runtime once nothing runs in them; true
    // when it could (the listen thread ended).
    bool ReleaseAll();

    // Host messages to the event log; LogEvent and LogMessage also print to
    // standard output when the program is not a service.
    void LogEvent(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void LogMessage(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void LogEventEx(DWORD eventId, const char* text, WORD type);

    bool IsService() const { return isService_; }
    const std::string& ServiceName() const { return serviceName_; }
    // Ports of the running virtual servers, ascending.
    std::vector<LONG> Ports() const;
    CServerImpl* Server(LONG port) const;
    // Shuts every virtual server down, in ascending port order (then those
    // that a later subkey of their port replaced).
    void ShutdownServers();

protected:
    void ReportHostEvent(DWORD eventId, const char* text, WORD type, bool echo);
    void ReportStatus(DWORD state);
    void ListenThread();
    void ReportRpcError(const char* format, RPC_STATUS status, const char* first = nullptr);
    // Makes the virtual server and puts it on its port, unless a save holds
    // its folder (then an error event names it).
    void AddServer(const char* name, LONG port, const std::string& folder);
    void LogNotStarting(const char* name, const char* reason);

    std::string serviceName_ = "TQWL";
    bool isService_ = true;

private:
    SERVICE_STATUS_HANDLE statusHandle_ = nullptr;
    SERVICE_STATUS status_{};
    DWORD serviceThreadId_ = 0;

    CRemoteInvokeStub stub_{*this};
    std::unique_ptr<CRpcServer> rpc_;
    std::thread listenThread_;
    bool listenThreadStarted_ = false;

    // The stop event and the end of the listen thread, under one lock. The
    // event exists from construction, so a stop that comes early is kept.
    std::mutex stateLock_;
    std::condition_variable stateChanged_;
    bool stopRequested_ = false;
    bool listenEnded_ = false;

    std::map<LONG, CServerImpl*> servers_;
    // Every server made, including those a later subkey of the same port
    // replaced in the map: they were initialised and stay alive.
    std::vector<std::unique_ptr<CServerImpl>> owned_;
};

// "RPC Error %u -- %s" with the status's system text, or "Last Error %u -- %s"
// with the last error's when the status has none.
void FormatRpcErrorStatus(RPC_STATUS status, char* buffer, size_t size);

// True when a "-" or "/" of the command line is followed by the word, ignoring case.
bool CommandLineHasSwitch(const char* commandLine, const char* word);
