// The controller's calls: handles on the manager and on services, the
// registration in the registry, queries, starts and controls.

#include "platform/scm/ServiceCommandLine.h"
#include "platform/scm/ServiceChannel.h"
#include "platform/scm/ServiceControl.h"
#include "platform/scm/ServiceLauncher.h"
#include "platform/scm/ServiceState.h"

#include "platform/registry/Registry.h"
#include "platform/win/LastError.h"
#include "platform/win/Process.h"

#include <cerrno>
#include <cstring>
#include <mutex>
#include <set>
#include <string>
#include <strings.h>
#include <unistd.h>
#include <vector>

struct ServiceHandleRecord {
    bool isManager = false;
    DWORD access = 0;
    std::string name; // services only
};

namespace {

using namespace tq::scm;

std::mutex g_handleMutex;
std::set<const ServiceHandleRecord*> g_handles;

// Rights that every user is granted.
constexpr DWORD kOpenManagerRights =
    SC_MANAGER_CONNECT | SC_MANAGER_ENUMERATE_SERVICE | SC_MANAGER_QUERY_LOCK_STATUS | READ_CONTROL;
constexpr DWORD kOpenServiceRights =
    SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS | SERVICE_ENUMERATE_DEPENDENTS | SERVICE_INTERROGATE | READ_CONTROL;

DWORD MapManagerAccess(DWORD access)
{
    DWORD mapped = access & ~(GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE | GENERIC_ALL);
    if (access & GENERIC_READ)
        mapped |= READ_CONTROL | SC_MANAGER_ENUMERATE_SERVICE | SC_MANAGER_QUERY_LOCK_STATUS;
    if (access & GENERIC_WRITE)
        mapped |= READ_CONTROL | SC_MANAGER_CREATE_SERVICE | SC_MANAGER_MODIFY_BOOT_CONFIG;
    if (access & GENERIC_EXECUTE)
        mapped |= READ_CONTROL | SC_MANAGER_CONNECT | SC_MANAGER_LOCK;
    if (access & GENERIC_ALL)
        mapped |= SC_MANAGER_ALL_ACCESS;
    return mapped | SC_MANAGER_CONNECT;
}

DWORD MapServiceAccess(DWORD access)
{
    DWORD mapped = access & ~(GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE | GENERIC_ALL);
    if (access & GENERIC_READ)
        mapped |= READ_CONTROL | SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS | SERVICE_INTERROGATE |
                  SERVICE_ENUMERATE_DEPENDENTS;
    if (access & GENERIC_WRITE)
        mapped |= READ_CONTROL | SERVICE_CHANGE_CONFIG;
    if (access & GENERIC_EXECUTE)
        mapped |= READ_CONTROL | SERVICE_START | SERVICE_STOP | SERVICE_PAUSE_CONTINUE | SERVICE_USER_DEFINED_CONTROL;
    if (access & GENERIC_ALL)
        mapped |= SERVICE_ALL_ACCESS;
    return mapped;
}

template <typename T>
T Fail(DWORD error, T value)
{
    SetLastError(error);
    return value;
}

SC_HANDLE NewHandle(bool isManager, DWORD access, const std::string& name)
{
    auto* h = new ServiceHandleRecord{isManager, access, name};
    std::lock_guard<std::mutex> lock(g_handleMutex);
    g_handles.insert(h);
    return h;
}

// A copy of a live handle's record, so that a concurrent close cannot pull it
// away while a call works with it.
bool LookUp(SC_HANDLE handle, bool wantManager, ServiceHandleRecord* out)
{
    std::lock_guard<std::mutex> lock(g_handleMutex);
    if (handle == nullptr || g_handles.count(handle) == 0 || handle->isManager != wantManager)
        return false;
    *out = *handle;
    return true;
}

std::string ServiceKeyPath(const std::string& name)
{
    return std::string(kServicesKey) + "\\" + name;
}

bool QueryDword(HKEY key, const char* value, DWORD* out)
{
    DWORD type = 0;
    DWORD size = sizeof(DWORD);
    return RegQueryValueExA(key, value, nullptr, &type, reinterpret_cast<BYTE*>(out), &size) == ERROR_SUCCESS &&
           type == REG_DWORD && size == sizeof(DWORD);
}

bool QueryString(HKEY key, const char* value, std::string* out)
{
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueExA(key, value, nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ))
        return false;
    std::string text(size, '\0');
    if (RegQueryValueExA(key, value, nullptr, &type, reinterpret_cast<BYTE*>(text.data()), &size) != ERROR_SUCCESS)
        return false;
    text.resize(std::strlen(text.c_str()));
    *out = text;
    return true;
}

void SetDword(HKEY key, const char* value, DWORD data, LONG* result)
{
    if (*result == ERROR_SUCCESS)
        *result = RegSetValueExA(key, value, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data), sizeof data);
}

void SetString(HKEY key, const char* value, DWORD type, const std::string& data, LONG* result)
{
    if (*result == ERROR_SUCCESS)
        *result = RegSetValueExA(key, value, 0, type, reinterpret_cast<const BYTE*>(data.c_str()),
                                 static_cast<DWORD>(data.size() + 1));
}

struct ServiceConfig {
    DWORD type = 0;
    DWORD startType = SERVICE_DEMAND_START;
    bool markedForDelete = false;
    std::string imagePath;
};

// ERROR_SERVICE_DOES_NOT_EXIST when the service is not registered; another
// error when the registry cannot be read.
DWORD ReadConfig(const std::string& name, ServiceConfig* config)
{
    HKEY key = nullptr;
    LONG r = RegOpenKeyExA(HKEY_LOCAL_MACHINE, ServiceKeyPath(name).c_str(), 0, KEY_READ, &key);
    if (r == static_cast<LONG>(ERROR_FILE_NOT_FOUND) || r == static_cast<LONG>(ERROR_PATH_NOT_FOUND))
        return ERROR_SERVICE_DOES_NOT_EXIST;
    if (r != ERROR_SUCCESS)
        return static_cast<DWORD>(r);
    DWORD flag = 0;
    bool registered = QueryDword(key, kTypeValue, &config->type);
    QueryDword(key, kStartValue, &config->startType);
    config->markedForDelete = QueryDword(key, kDeleteFlagValue, &flag) && flag != 0;
    QueryString(key, kImagePathValue, &config->imagePath);
    RegCloseKey(key);
    return registered ? ERROR_SUCCESS : ERROR_SERVICE_DOES_NOT_EXIST;
}

DWORD RemoveRegistration(const std::string& name)
{
    HKEY services = nullptr;
    LONG r = RegOpenKeyExA(HKEY_LOCAL_MACHINE, kServicesKey, 0, KEY_ALL_ACCESS, &services);
    if (r == ERROR_SUCCESS) {
        r = RegDeleteTreeA(services, name.c_str());
        RegCloseKey(services);
    }
    if (r != ERROR_SUCCESS && r != static_cast<LONG>(ERROR_FILE_NOT_FOUND))
        return static_cast<DWORD>(r);
    RemoveServiceRunFiles(name);
    return ERROR_SUCCESS;
}

// Reads the registration; one marked for deletion whose process has ended
// is removed now and counts as missing.
DWORD LookUpService(const std::string& name, ServiceConfig* config)
{
    DWORD r = ReadConfig(name, config);
    if (r != ERROR_SUCCESS || !config->markedForDelete || ServiceIsActive(name))
        return r;
    r = RemoveRegistration(name);
    return r == ERROR_SUCCESS ? ERROR_SERVICE_DOES_NOT_EXIST : r;
}

void ToStatus(const SERVICE_STATUS_PROCESS& p, SERVICE_STATUS* s)
{
    s->dwServiceType = p.dwServiceType;
    s->dwCurrentState = p.dwCurrentState;
    s->dwControlsAccepted = p.dwControlsAccepted;
    s->dwWin32ExitCode = p.dwWin32ExitCode;
    s->dwServiceSpecificExitCode = p.dwServiceSpecificExitCode;
    s->dwCheckPoint = p.dwCheckPoint;
    s->dwWaitHint = p.dwWaitHint;
}

// The right a control code needs, 0 for a code that cannot be sent, or
// ~0 for a code that means nothing.
DWORD RightForControl(DWORD control)
{
    switch (control) {
    case SERVICE_CONTROL_STOP: return SERVICE_STOP;
    case SERVICE_CONTROL_PAUSE:
    case SERVICE_CONTROL_CONTINUE: return SERVICE_PAUSE_CONTINUE;
    case SERVICE_CONTROL_INTERROGATE: return SERVICE_INTERROGATE;
    default: break;
    }
    if (control >= 128 && control <= 255)
        return SERVICE_USER_DEFINED_CONTROL;
    if (control >= SERVICE_CONTROL_SHUTDOWN && control <= 15)
        return 0;
    return ~0u;
}

// Takes the run lock for a start. A service that has reported SERVICE_STOPPED
// gives the lock up as it winds down, so that case waits for it.
// The live service handle with the given right, or false with the error set.
bool LookUpWithRight(SC_HANDLE service, DWORD right, ServiceHandleRecord* out)
{
    if (!LookUp(service, false, out))
        return Fail(ERROR_INVALID_HANDLE, false);
    if ((out->access & right) != right)
        return Fail(ERROR_ACCESS_DENIED, false);
    return true;
}

int TakeLockForStart(const std::string& name, DWORD* error)
{
    const unsigned long long deadline = GetTickCount64() + ScmTimeoutMs();
    while (true) {
        bool held = false;
        int fd = TakeServiceLock(name, &held);
        if (fd >= 0)
            return fd;
        if (!held) {
            *error = Win32ErrorFromErrno(errno);
            return -1;
        }
        StatusRecord last;
        if (!ReadStatusFile(name, &last) || last.status.dwCurrentState != SERVICE_STOPPED ||
            GetTickCount64() >= deadline) {
            *error = ERROR_SERVICE_ALREADY_RUNNING;
            return -1;
        }
        Sleep(10);
    }
}

} // namespace

SC_HANDLE OpenSCManagerA(const char* machine, const char* database, DWORD desiredAccess)
{
    if (machine != nullptr && *machine != '\0' && std::strcmp(machine, ".") != 0 &&
        std::strcmp(machine, "\\\\.") != 0)
        return Fail(static_cast<DWORD>(RPC_S_SERVER_UNAVAILABLE), SC_HANDLE{});
    if (database != nullptr && ::strcasecmp(database, "ServicesActive") != 0)
        return Fail(ERROR_DATABASE_DOES_NOT_EXIST, SC_HANDLE{});
    DWORD access = MapManagerAccess(desiredAccess);
    if ((access & ~kOpenManagerRights) != 0 && !CallerIsPrivileged())
        return Fail(ERROR_ACCESS_DENIED, SC_HANDLE{});
    return NewHandle(true, access, {});
}

SC_HANDLE OpenServiceA(SC_HANDLE manager, const char* serviceName, DWORD desiredAccess)
{
    ServiceHandleRecord m;
    if (!LookUp(manager, true, &m))
        return Fail(ERROR_INVALID_HANDLE, SC_HANDLE{});
    if (!IsValidServiceName(serviceName))
        return Fail(ERROR_INVALID_NAME, SC_HANDLE{});
    ServiceConfig config;
    DWORD r = LookUpService(serviceName, &config);
    if (r != ERROR_SUCCESS)
        return Fail(r, SC_HANDLE{});
    DWORD access = MapServiceAccess(desiredAccess);
    if ((access & ~kOpenServiceRights) != 0 && !CallerIsPrivileged())
        return Fail(ERROR_ACCESS_DENIED, SC_HANDLE{});
    return NewHandle(false, access, serviceName);
}

SC_HANDLE CreateServiceA(SC_HANDLE manager, const char* serviceName, const char* displayName, DWORD desiredAccess,
                         DWORD serviceType, DWORD startType, DWORD errorControl, const char* binaryPathName)
{
    ServiceHandleRecord m;
    if (!LookUp(manager, true, &m))
        return Fail(ERROR_INVALID_HANDLE, SC_HANDLE{});
    if ((m.access & SC_MANAGER_CREATE_SERVICE) == 0)
        return Fail(ERROR_ACCESS_DENIED, SC_HANDLE{});
    if (!IsValidServiceName(serviceName))
        return Fail(ERROR_INVALID_NAME, SC_HANDLE{});
    if (binaryPathName == nullptr || serviceType != SERVICE_WIN32_OWN_PROCESS ||
        (startType != SERVICE_AUTO_START && startType != SERVICE_DEMAND_START && startType != SERVICE_DISABLED) ||
        errorControl > SERVICE_ERROR_CRITICAL)
        return Fail(ERROR_INVALID_PARAMETER, SC_HANDLE{});
    std::vector<std::string> parts = SplitServiceCommandLine(binaryPathName);
    if (parts.empty() || parts[0].empty() || parts[0][0] != '/')
        return Fail(ERROR_BAD_PATHNAME, SC_HANDLE{});

    ServiceConfig existing;
    DWORD r = LookUpService(serviceName, &existing);
    if (r == ERROR_SUCCESS)
        return Fail(existing.markedForDelete ? ERROR_SERVICE_MARKED_FOR_DELETE : ERROR_SERVICE_EXISTS, SC_HANDLE{});
    if (r != ERROR_SERVICE_DOES_NOT_EXIST)
        return Fail(r, SC_HANDLE{});

    HKEY key = nullptr;
    LONG w = RegCreateKeyExA(HKEY_LOCAL_MACHINE, ServiceKeyPath(serviceName).c_str(), KEY_ALL_ACCESS, &key);
    if (w != ERROR_SUCCESS)
        return Fail(static_cast<DWORD>(w), SC_HANDLE{});
    SetString(key, kImagePathValue, REG_EXPAND_SZ, binaryPathName, &w);
    SetString(key, kDisplayNameValue, REG_SZ, displayName != nullptr ? displayName : serviceName, &w);
    SetDword(key, kStartValue, startType, &w);
    SetDword(key, kErrorControlValue, errorControl, &w);
    // Written last: a key counts as a service once it has its type.
    SetDword(key, kTypeValue, serviceType, &w);
    RegCloseKey(key);
    if (w != ERROR_SUCCESS) {
        RemoveRegistration(serviceName);
        return Fail(static_cast<DWORD>(w), SC_HANDLE{});
    }
    if (!EnsureServicesFolder())
        return Fail(Win32ErrorFromErrno(errno), SC_HANDLE{});
    RemoveServiceRunFiles(serviceName);
    return NewHandle(false, MapServiceAccess(desiredAccess), serviceName);
}

BOOL DeleteService(SC_HANDLE service)
{
    ServiceHandleRecord s;
    if (!LookUpWithRight(service, DELETE, &s))
        return FALSE;
    ServiceConfig config;
    DWORD r = ReadConfig(s.name, &config);
    if (r != ERROR_SUCCESS)
        return Fail(r, FALSE);
    if (config.markedForDelete)
        return Fail(ERROR_SERVICE_MARKED_FOR_DELETE, FALSE);
    if (ServiceIsActive(s.name)) {
        HKEY key = nullptr;
        LONG w = RegOpenKeyExA(HKEY_LOCAL_MACHINE, ServiceKeyPath(s.name).c_str(), 0, KEY_ALL_ACCESS, &key);
        SetDword(key, kDeleteFlagValue, 1, &w);
        if (key != nullptr)
            RegCloseKey(key);
        return w == ERROR_SUCCESS ? TRUE : Fail(static_cast<DWORD>(w), FALSE);
    }
    r = RemoveRegistration(s.name);
    return r == ERROR_SUCCESS ? TRUE : Fail(r, FALSE);
}

BOOL CloseServiceHandle(SC_HANDLE handle)
{
    {
        std::lock_guard<std::mutex> lock(g_handleMutex);
        if (handle == nullptr || g_handles.erase(handle) == 0)
            return Fail(ERROR_INVALID_HANDLE, FALSE);
    }
    delete handle;
    return TRUE;
}

BOOL QueryServiceStatusEx(SC_HANDLE service, DWORD infoLevel, BYTE* buffer, DWORD bufferSize, DWORD* bytesNeeded)
{
    ServiceHandleRecord s;
    if (!LookUpWithRight(service, SERVICE_QUERY_STATUS, &s))
        return FALSE;
    if (infoLevel != SC_STATUS_PROCESS_INFO)
        return Fail(ERROR_INVALID_LEVEL, FALSE);
    if (bytesNeeded != nullptr)
        *bytesNeeded = sizeof(SERVICE_STATUS_PROCESS);
    if (buffer == nullptr || bufferSize < sizeof(SERVICE_STATUS_PROCESS))
        return Fail(ERROR_INSUFFICIENT_BUFFER, FALSE);
    SERVICE_STATUS_PROCESS p = CurrentStatus(s.name);
    std::memcpy(buffer, &p, sizeof p);
    return TRUE;
}

BOOL QueryServiceStatus(SC_HANDLE service, SERVICE_STATUS* status)
{
    SERVICE_STATUS_PROCESS p{};
    if (status == nullptr)
        return Fail(ERROR_INVALID_PARAMETER, FALSE);
    if (!QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&p), sizeof p, nullptr))
        return FALSE;
    ToStatus(p, status);
    return TRUE;
}

BOOL StartServiceA(SC_HANDLE service, DWORD numArgs, const char** args)
{
    ServiceHandleRecord s;
    if (!LookUpWithRight(service, SERVICE_START, &s))
        return FALSE;
    std::vector<std::string> serviceArgs;
    for (DWORD i = 0; i < numArgs; ++i) {
        if (args == nullptr || args[i] == nullptr)
            return Fail(ERROR_INVALID_PARAMETER, FALSE);
        serviceArgs.emplace_back(args[i]);
    }
    ServiceConfig config;
    DWORD r = ReadConfig(s.name, &config);
    if (r != ERROR_SUCCESS)
        return Fail(r, FALSE);
    if (config.markedForDelete)
        return Fail(ERROR_SERVICE_MARKED_FOR_DELETE, FALSE);
    if (config.startType == SERVICE_DISABLED)
        return Fail(ERROR_SERVICE_DISABLED, FALSE);

    int lockFd = TakeLockForStart(s.name, &r);
    if (lockFd < 0)
        return Fail(r, FALSE);
    WriteStatusFile(s.name, MakeStatus(SERVICE_START_PENDING, ERROR_SUCCESS, 0));
    r = LaunchService(s.name, SplitServiceCommandLine(config.imagePath), serviceArgs, lockFd);
    if (r != ERROR_SUCCESS)
        WriteStatusFile(s.name, MakeStatus(SERVICE_STOPPED, r, 0));
    ::close(lockFd);
    return r == ERROR_SUCCESS ? TRUE : Fail(r, FALSE);
}

BOOL ControlService(SC_HANDLE service, DWORD control, SERVICE_STATUS* status)
{
    ServiceHandleRecord s;
    if (!LookUp(service, false, &s))
        return Fail(ERROR_INVALID_HANDLE, FALSE);
    DWORD right = RightForControl(control);
    if (right == ~0u)
        return Fail(ERROR_INVALID_PARAMETER, FALSE);
    if (right == 0)
        return Fail(ERROR_INVALID_SERVICE_CONTROL, FALSE);
    if ((s.access & right) == 0)
        return Fail(ERROR_ACCESS_DENIED, FALSE);

    SERVICE_STATUS_PROCESS now = CurrentStatus(s.name);
    if (status != nullptr)
        ToStatus(now, status);
    if (now.dwCurrentState == SERVICE_STOPPED)
        return Fail(ERROR_SERVICE_NOT_ACTIVE, FALSE);
    int fd = ConnectTo(ServiceFilePath(s.name, ".sock"));
    if (fd < 0) {
        // Alive, but its dispatcher does not serve (yet, or any more).
        if (errno == EACCES || errno == EPERM)
            return Fail(ERROR_ACCESS_DENIED, FALSE);
        return Fail(ERROR_SERVICE_CANNOT_ACCEPT_CTRL, FALSE);
    }
    ControlRequest request{kControlMagic, control};
    ControlReply reply{};
    IoResult io = IoResult::Failed;
    if (WriteExact(fd, &request, sizeof request))
        io = ReadExact(fd, &reply, sizeof reply, GetTickCount64() + ScmTimeoutMs());
    ::close(fd);
    if (io == IoResult::TimedOut)
        return Fail(ERROR_SERVICE_REQUEST_TIMEOUT, FALSE);
    if (io != IoResult::Ok || reply.magic != kControlMagic) {
        now = CurrentStatus(s.name);
        if (status != nullptr)
            ToStatus(now, status);
        return Fail(now.dwCurrentState == SERVICE_STOPPED ? ERROR_SERVICE_NOT_ACTIVE : ERROR_SERVICE_CANNOT_ACCEPT_CTRL,
                    FALSE);
    }
    if (status != nullptr)
        *status = reply.status;
    return reply.error == ERROR_SUCCESS ? TRUE : Fail(reply.error, FALSE);
}
