#pragma once
// The service process's side: the one dispatcher of the process, which claims
// the start that the controller made, runs service main, serves controls and
// publishes the status reports.

#include "platform/scm/ServiceControl.h"

#include <mutex>
#include <string>
#include <sys/types.h>
#include <vector>

struct ServiceStatusRecord {
    int unused = 0;
};

namespace tq::scm {

class CServiceDispatcher {
public:
    static CServiceDispatcher& Instance();

    BOOL Run(const SERVICE_TABLE_ENTRYA* table);
    SERVICE_STATUS_HANDLE RegisterHandler(const char* serviceName, LPHANDLER_FUNCTION handler);
    BOOL SetStatus(SERVICE_STATUS_HANDLE handle, const SERVICE_STATUS* status);

private:
    CServiceDispatcher() = default;

    // Checks that StartServiceA made this process for an entry of the table
    // and takes over what it handed down.
    DWORD Claim(const SERVICE_TABLE_ENTRYA* table, const SERVICE_TABLE_ENTRYA** entry);
    void Serve();
    void ServeClient(int fd);
    DWORD Control(DWORD control, uid_t peer);
    void Wake();
    // Publishes SERVICE_STOPPED and gives up the name; mutex_ held.
    void ReportStoppedLocked();
    void CloseAll();

    std::mutex mutex_;
    bool active_ = false;
    bool stopped_ = false;
    bool mainReturned_ = false;
    std::string name_;
    std::vector<std::string> args_;
    LPHANDLER_FUNCTION handler_ = nullptr;
    SERVICE_STATUS status_{};
    ServiceStatusRecord record_;
    int lockFd_ = -1;
    int channelFd_ = -1;
    int listenFd_ = -1;
    int wakeRead_ = -1;
    int wakeWrite_ = -1;
};

} // namespace tq::scm
