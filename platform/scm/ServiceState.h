#pragma once
// What the controller and the service process share about one service: its
// registration in the registry, the files under <state root>/run/services,
// the lock that a running service process holds, its last reported status,
// and who may control it.

#include "platform/scm/ServiceControl.h"

#include <string>
#include <sys/types.h>

namespace tq::scm {

inline constexpr const char* kServicesKey = "SYSTEM\\CurrentControlSet\\Services";
inline constexpr const char* kTypeValue = "Type";
inline constexpr const char* kStartValue = "Start";
inline constexpr const char* kErrorControlValue = "ErrorControl";
inline constexpr const char* kImagePathValue = "ImagePath";
inline constexpr const char* kDisplayNameValue = "DisplayName";
inline constexpr const char* kDeleteFlagValue = "DeleteFlag";

// What StartServiceA hands the service process in its environment.
inline constexpr const char* kEnvServiceName = "TQ_SERVICE_NAME";
inline constexpr const char* kEnvLockFd = "TQ_SERVICE_LOCK_FD";
inline constexpr const char* kEnvChannelFd = "TQ_SERVICE_CHANNEL_FD";
inline constexpr const char* kEnvArgCount = "TQ_SERVICE_ARGC";
inline constexpr const char* kEnvArgPrefix = "TQ_SERVICE_ARG_";

bool IsValidServiceName(const char* name);

// <state root>/run/services
std::string ServicesFolder();
bool EnsureServicesFolder();

// <folder>/<name in lower case><suffix>: ".lock", ".status", ".sock", ".log".
std::string ServiceFilePath(const std::string& name, const char* suffix);

// Root, and the owner of the services folder (of the state root while that
// folder is missing), hold every right; others may only query.
bool UidIsPrivileged(uid_t uid);
bool CallerIsPrivileged();

// The last status a service reported, with the process that reported it.
struct StatusRecord {
    SERVICE_STATUS status{};
    DWORD processId = 0;
};

// False when there is no readable record.
bool ReadStatusFile(const std::string& name, StatusRecord* record);
// Replaces the record at once for every reader.
bool WriteStatusFile(const std::string& name, const StatusRecord& record);
void RemoveServiceRunFiles(const std::string& name);

// A status record of an own-process service in the given state.
StatusRecord MakeStatus(DWORD state, DWORD exitCode, DWORD processId);

// Takes the service's run lock without waiting: the descriptor (close-on-exec)
// that holds it, or -1 with *heldElsewhere telling whether a process holds it
// (otherwise errno tells what failed).
int TakeServiceLock(const std::string& name, bool* heldElsewhere);

// Whether some process holds the run lock; tests without taking it.
bool ServiceLockHeld(const std::string& name);

// The status a query reports: the last record while the lock is held; once
// it is free, SERVICE_STOPPED, with ERROR_PROCESS_ABORTED when the process
// ended without reporting so, and ERROR_SERVICE_NEVER_STARTED without record.
SERVICE_STATUS_PROCESS CurrentStatus(const std::string& name);

// Whether the service counts as running (any state but SERVICE_STOPPED).
bool ServiceIsActive(const std::string& name);

// How long a start waits for the dispatcher and a control for the handler.
DWORD ScmTimeoutMs();

} // namespace tq::scm
