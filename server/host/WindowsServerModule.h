#pragma once
// The server program's module: it builds the virtual servers from the
// registry, opens their RPC endpoints, runs as a service or in its own
// process, and stops them again.

#include "platform/win/WinTypes.h"
#include "server/dispatch/InvokeData.h"
#include "server/dispatch/ServerImpl.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

class CWindowsServerModule {
public:
    CWindowsServerModule();
    virtual ~CWindowsServerModule();
    CWindowsServerModule(const CWindowsServerModule&) = delete;
    CWindowsServerModule& operator=(const CWindowsServerModule&) = delete;

    // The module of this process, for the RPC procedures and the control handler.
    static CWindowsServerModule* Current();

    void CreateVirtualServers();
    HRESULT DispatchToServer(LONG port, CInvokeData* record);

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
    // Shuts every virtual server down, in ascending port order.
    void ShutdownServers();

protected:
    void ReportHostEvent(DWORD eventId, const char* text, WORD type, bool echo);

    std::string serviceName_ = "TQWL";
    bool isService_ = true;

private:
    std::map<LONG, CServerImpl*> servers_;
    // Every server made, including those a later subkey of the same port
    // replaced in the map: they were initialised and stay alive.
    std::vector<std::unique_ptr<CServerImpl>> owned_;
};

// The call record of one RemoteInvoke: decoded, routed to the virtual server
// of the port, encoded as the reply. 0, or 0x8000FFFF with an empty reply
// when the request does not decode or anything fails. The reply is calloc'd.
LONG InvokeCallRecord(CWindowsServerModule& module, LONG port, const BYTE* request, DWORD requestSize, BYTE** reply,
                      DWORD* replySize);

// The port of a string binding such as "ncacn_ip_tcp:127.0.0.1[34347]"; 34347
// when it has none that reads as a number.
LONG PortFromStringBinding(const std::string& binding);

// "RPC Error %u -- %s" with the status's system text, or "Last Error %u -- %s"
// with the last error's when the status has none.
void FormatRpcErrorStatus(RPC_STATUS status, char* buffer, size_t size);

// True when a "-" or "/" of the command line is followed by the word, ignoring case.
bool CommandLineHasSwitch(const char* commandLine, const char* word);
