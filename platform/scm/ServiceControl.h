#pragma once
// Services: a program registered under HKEY_LOCAL_MACHINE
// "SYSTEM\CurrentControlSet\Services\<name>" that a controller (any process)
// starts, queries and controls, and that enters the control dispatcher to
// serve as that service. There is no daemon in between:
//
// - StartServiceA spawns the program detached (own session, working folder
//   "/", stdin from /dev/null, stdout and stderr to
//   <state root>/run/services/<name>.log, the caller's environment with
//   TQ_STATE_ROOT made absolute) and waits until it enters the dispatcher.
// - The service process holds a lock on <name>.lock for as long as it runs
//   and writes every status it reports to <name>.status; a query reads that
//   file and tests the lock, so it never waits on the service, and a process
//   that died without reporting SERVICE_STOPPED reads as stopped with
//   ERROR_PROCESS_ABORTED.
// - Controls travel over the Unix-domain socket <name>.sock, which the
//   dispatcher serves; the handler runs on the dispatcher's thread.
//
// Who may do what: querying (and interrogating) is open to every user; every
// other right (start, stop, pause, install, delete, ...) belongs to root and
// to the owner of <state root>/run/services (the state root's owner while that
// folder does not exist). Rights are checked when a handle is opened, as
// ERROR_ACCESS_DENIED, and again by the dispatcher for each control.
//
// Failures return FALSE or null with the Win32 error in GetLastError().
// TQ_SCM_TIMEOUT_MS overrides the 30000 ms that a start waits for the
// dispatcher and a control waits for the handler.

#include "platform/win/WinTypes.h"

struct ServiceHandleRecord;
using SC_HANDLE = ServiceHandleRecord*;

struct ServiceStatusRecord;
using SERVICE_STATUS_HANDLE = ServiceStatusRecord*;

struct SERVICE_STATUS {
    DWORD dwServiceType;
    DWORD dwCurrentState;
    DWORD dwControlsAccepted;
    DWORD dwWin32ExitCode;
    DWORD dwServiceSpecificExitCode;
    DWORD dwCheckPoint;
    DWORD dwWaitHint;
};

struct SERVICE_STATUS_PROCESS {
    DWORD dwServiceType;
    DWORD dwCurrentState;
    DWORD dwControlsAccepted;
    DWORD dwWin32ExitCode;
    DWORD dwServiceSpecificExitCode;
    DWORD dwCheckPoint;
    DWORD dwWaitHint;
    DWORD dwProcessId; // 0 while no service process has entered the dispatcher
    DWORD dwServiceFlags;
};

using LPSERVICE_MAIN_FUNCTIONA = void (*)(DWORD argc, char** argv);
using LPHANDLER_FUNCTION = void (*)(DWORD control);

struct SERVICE_TABLE_ENTRYA {
    const char* lpServiceName;
    LPSERVICE_MAIN_FUNCTIONA lpServiceProc;
};

// Standard and generic access rights.
constexpr DWORD DELETE = 0x00010000;
constexpr DWORD READ_CONTROL = 0x00020000;
constexpr DWORD WRITE_DAC = 0x00040000;
constexpr DWORD WRITE_OWNER = 0x00080000;
constexpr DWORD STANDARD_RIGHTS_REQUIRED = 0x000F0000;

// Rights on the manager.
constexpr DWORD SC_MANAGER_CONNECT = 0x0001;
constexpr DWORD SC_MANAGER_CREATE_SERVICE = 0x0002;
constexpr DWORD SC_MANAGER_ENUMERATE_SERVICE = 0x0004;
constexpr DWORD SC_MANAGER_LOCK = 0x0008;
constexpr DWORD SC_MANAGER_QUERY_LOCK_STATUS = 0x0010;
constexpr DWORD SC_MANAGER_MODIFY_BOOT_CONFIG = 0x0020;
constexpr DWORD SC_MANAGER_ALL_ACCESS = 0x000F003F;

// Rights on a service.
constexpr DWORD SERVICE_QUERY_CONFIG = 0x0001;
constexpr DWORD SERVICE_CHANGE_CONFIG = 0x0002;
constexpr DWORD SERVICE_QUERY_STATUS = 0x0004;
constexpr DWORD SERVICE_ENUMERATE_DEPENDENTS = 0x0008;
constexpr DWORD SERVICE_START = 0x0010;
constexpr DWORD SERVICE_STOP = 0x0020;
constexpr DWORD SERVICE_PAUSE_CONTINUE = 0x0040;
constexpr DWORD SERVICE_INTERROGATE = 0x0080;
constexpr DWORD SERVICE_USER_DEFINED_CONTROL = 0x0100;
constexpr DWORD SERVICE_ALL_ACCESS = 0x000F01FF;

// Service types; only own-process services can be installed here.
constexpr DWORD SERVICE_KERNEL_DRIVER = 0x01;
constexpr DWORD SERVICE_FILE_SYSTEM_DRIVER = 0x02;
constexpr DWORD SERVICE_WIN32_OWN_PROCESS = 0x10;
constexpr DWORD SERVICE_WIN32_SHARE_PROCESS = 0x20;
constexpr DWORD SERVICE_INTERACTIVE_PROCESS = 0x100;

// Start types. Nothing here starts services at boot: SERVICE_AUTO_START is
// kept for the record only, SERVICE_DISABLED refuses StartServiceA.
constexpr DWORD SERVICE_BOOT_START = 0;
constexpr DWORD SERVICE_SYSTEM_START = 1;
constexpr DWORD SERVICE_AUTO_START = 2;
constexpr DWORD SERVICE_DEMAND_START = 3;
constexpr DWORD SERVICE_DISABLED = 4;

// Error control (kept for the record).
constexpr DWORD SERVICE_ERROR_IGNORE = 0;
constexpr DWORD SERVICE_ERROR_NORMAL = 1;
constexpr DWORD SERVICE_ERROR_SEVERE = 2;
constexpr DWORD SERVICE_ERROR_CRITICAL = 3;

// Current states.
constexpr DWORD SERVICE_STOPPED = 1;
constexpr DWORD SERVICE_START_PENDING = 2;
constexpr DWORD SERVICE_STOP_PENDING = 3;
constexpr DWORD SERVICE_RUNNING = 4;
constexpr DWORD SERVICE_CONTINUE_PENDING = 5;
constexpr DWORD SERVICE_PAUSE_PENDING = 6;
constexpr DWORD SERVICE_PAUSED = 7;

// Controls a service accepts.
constexpr DWORD SERVICE_ACCEPT_STOP = 0x01;
constexpr DWORD SERVICE_ACCEPT_PAUSE_CONTINUE = 0x02;
constexpr DWORD SERVICE_ACCEPT_SHUTDOWN = 0x04;

// Control codes. ControlService sends STOP, PAUSE, CONTINUE, INTERROGATE and
// the user-defined codes 128 to 255; SHUTDOWN belongs to the system.
constexpr DWORD SERVICE_CONTROL_STOP = 1;
constexpr DWORD SERVICE_CONTROL_PAUSE = 2;
constexpr DWORD SERVICE_CONTROL_CONTINUE = 3;
constexpr DWORD SERVICE_CONTROL_INTERROGATE = 4;
constexpr DWORD SERVICE_CONTROL_SHUTDOWN = 5;

// Info level of QueryServiceStatusEx.
constexpr DWORD SC_STATUS_PROCESS_INFO = 0;

// Service names are 1 to 200 characters without '/' and '\', compared
// without regard to case.
constexpr DWORD kMaxServiceNameLength = 200;

// ---- the controller's side ----

// machine must be null, "" or "." (the local machine), database null or
// "ServicesActive". SC_MANAGER_CONNECT is always granted.
SC_HANDLE OpenSCManagerA(const char* machine, const char* database, DWORD desiredAccess);

// ERROR_SERVICE_DOES_NOT_EXIST when no such service is registered.
SC_HANDLE OpenServiceA(SC_HANDLE manager, const char* serviceName, DWORD desiredAccess);

// Registers a service (needs SC_MANAGER_CREATE_SERVICE). binaryPathName is
// the command line: an absolute program path, quoted when it holds blanks,
// then the arguments (see MakeServiceCommandLine). displayName may be null.
// ERROR_SERVICE_EXISTS when the name is taken.
SC_HANDLE CreateServiceA(SC_HANDLE manager, const char* serviceName, const char* displayName, DWORD desiredAccess,
                         DWORD serviceType, DWORD startType, DWORD errorControl, const char* binaryPathName);

// Removes the registration (needs DELETE). A running service is marked for
// deletion and its registration goes once it has stopped and is looked up
// again; until then StartServiceA fails with ERROR_SERVICE_MARKED_FOR_DELETE.
BOOL DeleteService(SC_HANDLE service);

BOOL CloseServiceHandle(SC_HANDLE handle);

// Needs SERVICE_QUERY_STATUS.
BOOL QueryServiceStatus(SC_HANDLE service, SERVICE_STATUS* status);

// Needs SERVICE_QUERY_STATUS; infoLevel SC_STATUS_PROCESS_INFO fills a
// SERVICE_STATUS_PROCESS (ERROR_INSUFFICIENT_BUFFER with *bytesNeeded set
// when the buffer is smaller).
BOOL QueryServiceStatusEx(SC_HANDLE service, DWORD infoLevel, BYTE* buffer, DWORD bufferSize, DWORD* bytesNeeded);

// Needs SERVICE_START. Returns once the service process has entered the
// dispatcher and its service main runs; the arguments follow the service
// name in that routine's argv. ERROR_SERVICE_ALREADY_RUNNING while a process
// of the service lives, ERROR_SERVICE_REQUEST_TIMEOUT when the program never
// entered the dispatcher (the process is then killed), ERROR_PROCESS_ABORTED
// when it ended before, ERROR_FILE_NOT_FOUND / ERROR_ACCESS_DENIED when it
// could not be run, ERROR_SERVICE_DISABLED for a disabled service.
BOOL StartServiceA(SC_HANDLE service, DWORD numArgs, const char** args);

// Sends a control to the handler and returns the status after it. Needs
// SERVICE_STOP, SERVICE_PAUSE_CONTINUE, SERVICE_INTERROGATE or
// SERVICE_USER_DEFINED_CONTROL for the code. ERROR_SERVICE_NOT_ACTIVE when
// the service is not running, ERROR_SERVICE_CANNOT_ACCEPT_CTRL while it is
// start pending, stop pending or stopped, ERROR_INVALID_SERVICE_CONTROL for
// a code the service does not accept or that cannot be sent,
// ERROR_SERVICE_REQUEST_TIMEOUT when the handler did not return in time.
// *status is filled whenever the service's status is known.
BOOL ControlService(SC_HANDLE service, DWORD control, SERVICE_STATUS* status);

// ---- the service's side ----

// Serves the service that the controller started this process for: runs its
// entry's service main on a new thread (argv[0] is the service name) and the
// control handler on this thread, and returns TRUE once service main has
// returned. ERROR_FAILED_SERVICE_CONTROLLER_CONNECT when the process was not
// started by StartServiceA for a service of the table, and
// ERROR_SERVICE_ALREADY_RUNNING when a dispatcher already runs.
BOOL StartServiceCtrlDispatcherA(const SERVICE_TABLE_ENTRYA* table);

// ERROR_SERVICE_DOES_NOT_EXIST when name is not the service this process
// serves.
SERVICE_STATUS_HANDLE RegisterServiceCtrlHandlerA(const char* serviceName, LPHANDLER_FUNCTION handler);

// Publishes the service's status. ERROR_INVALID_DATA for a state outside 1
// to 7, ERROR_INVALID_HANDLE for an unknown handle or after SERVICE_STOPPED
// was reported: the stop report ends the service's claim on its name, so a
// new start may begin while this process winds down.
BOOL SetServiceStatus(SERVICE_STATUS_HANDLE handle, const SERVICE_STATUS* status);
