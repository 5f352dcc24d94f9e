#include "server/host/WindowsServerModule.h"

#include "common/Names.h"
#include "platform/eventlog/EventLog.h"
#include "platform/file/FileSystem.h"
#include "platform/registry/Registry.h"
#include "platform/threadpool/ThreadPool.h"
#include "platform/win/LastError.h"
#include "platform/win/Process.h"
#include "platform/win/StringCompare.h"
#include "platform/win/SystemMessage.h"
#include "server/host/ExceptionTranslator.h"
#include "server/host/StackOverflow.h"

#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// The message-table entry that shows its one insertion string as it is.
constexpr DWORD kMessageAsLogged = 0x69200002u;
constexpr size_t kHostMessageCapacity = 256;
// The name the console gives the server of the main key's folder.
constexpr const char* kDefaultServerName = "Default";

std::atomic<CWindowsServerModule*> g_module{nullptr};
// Held while the module is set or cleared and while a control runs in it:
// a stop that arrives while the module is being destroyed either finishes
// before the destruction starts or finds no module.
std::recursive_mutex g_moduleLock;

// A REG_SZ or REG_EXPAND_SZ value of at most 260 bytes, not expanded; "" when absent.
std::string ReadFolderValue(HKEY key)
{
    char text[MAX_PATH] = {};
    DWORD type = REG_NONE, size = sizeof text;
    if (RegQueryValueExA(key, tq::kStorageFolderValue, nullptr, &type, reinterpret_cast<BYTE*>(text), &size) !=
            ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ))
        return {};
    text[sizeof text - 1] = '\0';
    return text;
}

DWORD ReadPortValue(HKEY key)
{
    DWORD port = 0, type = REG_NONE, size = sizeof port;
    if (RegQueryValueExA(key, tq::kPortValue, nullptr, &type, reinterpret_cast<BYTE*>(&port), &size) !=
            ERROR_SUCCESS ||
        size != sizeof port)
        return 0;
    return port;
}

std::string VFormat(const char* format, va_list args)
{
    char text[kHostMessageCapacity];
    std::vsnprintf(text, sizeof text, format, args);
    return text;
}

} // namespace

CWindowsServerModule::CWindowsServerModule()
{
    std::lock_guard<std::recursive_mutex> guard(g_moduleLock);
    g_module = this;
}

CWindowsServerModule::~CWindowsServerModule()
{
    std::lock_guard<std::recursive_mutex> guard(g_moduleLock);
    if (g_module == this)
        g_module = nullptr;
}

CWindowsServerModule* CWindowsServerModule::Current()
{
    return g_module.load();
}

void CWindowsServerModule::ControlCurrent(DWORD control)
{
    std::lock_guard<std::recursive_mutex> guard(g_moduleLock);
    if (CWindowsServerModule* module = g_module.load())
        module->Handler(control);
}

void CWindowsServerModule::CreateVirtualServers()
{
    std::string folder;
    HKEY main = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, tq::kWardlakeKey, 0, KEY_READ, &main) == ERROR_SUCCESS) {
        folder = ReadFolderValue(main);
        RegCloseKey(main);
    }

    if (folder.empty()) {
        // A folder named after the program, relative to the current directory.
        std::string program = GetModuleFileName();
        auto slash = program.rfind('/');
        folder = slash == std::string::npos ? program : program.substr(slash + 1);
    }
    AddServer(kDefaultServerName, tq::kDefaultPort, folder);

    HKEY virtualServers = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, tq::kVirtualServersKey, 0, KEY_READ, &virtualServers) != ERROR_SUCCESS)
        return;
    for (DWORD index = 0;; ++index) {
        char name[MAX_PATH + 1];
        DWORD nameSize = sizeof name;
        if (RegEnumKeyExA(virtualServers, index, name, &nameSize) != ERROR_SUCCESS)
            break;
        HKEY sub = nullptr;
        if (RegOpenKeyExA(virtualServers, name, 0, KEY_READ, &sub) != ERROR_SUCCESS)
            continue;
        std::string subFolder = ReadFolderValue(sub);
        DWORD port = ReadPortValue(sub);
        RegCloseKey(sub);
        if (!subFolder.empty() && PathExists(subFolder.c_str()) && port != 0)
            AddServer(name, static_cast<LONG>(port), subFolder);
        else
            LogNotStarting(name, "Storage folder doesn't exist");
    }
    RegCloseKey(virtualServers);
}

void CWindowsServerModule::AddServer(const char* name, LONG port, const std::string& folder)
{
    auto server = std::make_unique<CServerImpl>(port);
    if (server->Initialize(folder.c_str(), folder.size()) == HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION)) {
        LogNotStarting(name, "Storage folder is in use");
        return;
    }
    servers_[port] = server.get();
    owned_.push_back(std::move(server));
}

void CWindowsServerModule::LogNotStarting(const char* name, const char* reason)
{
    char text[MAX_PATH + 64];
    std::snprintf(text, sizeof text, "Not starting %s: %s", name, reason);
    LogEventEx(kMessageAsLogged, text, EVENTLOG_ERROR_TYPE);
}

HRESULT CWindowsServerModule::DispatchToServer(LONG port, CInvokeData* record)
{
    auto it = servers_.find(port);
    if (it == servers_.end())
        return E_NOINTERFACE;
    return it->second->InvokeFunction(record);
}

std::vector<LONG> CWindowsServerModule::Ports() const
{
    std::vector<LONG> ports;
    for (const auto& [port, server] : servers_)
        ports.push_back(port);
    return ports;
}

CServerImpl* CWindowsServerModule::Server(LONG port) const
{
    auto it = servers_.find(port);
    return it == servers_.end() ? nullptr : it->second;
}

void CWindowsServerModule::ShutdownServers()
{
    for (const auto& [port, server] : servers_) {
        server->Shutdown();
        LogMessage("Virtual server on port %d stopped", static_cast<int>(port));
    }
    // One that a later subkey of its port replaced never served, yet it has
    // its lists open and holds its folder: it lets them go before the service
    // says it stopped, as the others do.
    for (const auto& server : owned_)
        if (Server(server->Port()) != server.get())
            server->Shutdown();
}

void CWindowsServerModule::ReportHostEvent(DWORD eventId, const char* text, WORD type, bool echo)
{
    if (echo && !isService_ && text != nullptr) {
        std::printf("%s\n", text);
        std::fflush(stdout);
    }
    HEVENTLOG source = RegisterEventSourceA(nullptr, serviceName_.c_str());
    if (source == nullptr)
        return;
    const char* strings[1] = {text};
    ReportEventA(source, type, 0, eventId, nullptr, text != nullptr ? 1 : 0, 0, text != nullptr ? strings : nullptr,
                 nullptr);
    DeregisterEventSource(source);
}

void CWindowsServerModule::LogEvent(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    std::string text = VFormat(format, args);
    va_end(args);
    ReportHostEvent(0, text.c_str(), EVENTLOG_INFORMATION_TYPE, true);
}

void CWindowsServerModule::LogMessage(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    std::string text = VFormat(format, args);
    va_end(args);
    ReportHostEvent(kMessageAsLogged, text.c_str(), EVENTLOG_INFORMATION_TYPE, true);
}

void CWindowsServerModule::LogEventEx(DWORD eventId, const char* text, WORD type)
{
    ReportHostEvent(eventId, text, type, false);
}

void FormatRpcErrorStatus(RPC_STATUS status, char* buffer, size_t size)
{
    if (buffer == nullptr || size == 0)
        return;
    try {
        DWORD code = static_cast<DWORD>(status);
        bool lastError = false;
        std::string text = GetSystemMessageText(code);
        if (text.empty()) {
            code = GetLastError();
            lastError = true;
            text = GetSystemMessageText(code);
        }
        // Line ends, blanks and trailing digits go; the sentence's own stop stays.
        while (!text.empty() && !std::isalpha(static_cast<unsigned char>(text.back())) &&
               !std::ispunct(static_cast<unsigned char>(text.back())))
            text.pop_back();
        std::snprintf(buffer, size, lastError ? "Last Error %u -- %s" : "RPC Error %u -- %s", code, text.c_str());
    } catch (const TQC::stack_overflow&) {
        throw;
    } catch (const TQC::win32_exception& e) {
        if (CWindowsServerModule* module = CWindowsServerModule::Current())
            module->LogMessage("Exception 0x%08X at address 0x%08X in function FormatRpcErrorStatus", e.code(),
                               static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(e.record().ExceptionAddress)));
    } catch (...) {
    }
}

bool CommandLineHasSwitch(const char* commandLine, const char* word)
{
    if (commandLine == nullptr || word == nullptr)
        return false;
    const size_t length = std::strlen(word);
    for (const char* p = commandLine; *p != '\0'; ++p) {
        if (*p != '-' && *p != '/')
            continue;
        const char* start = p + 1;
        const char* end = start;
        while (*end != '\0' && *end != ' ' && *end != '\t')
            ++end;
        if (static_cast<size_t>(end - start) == length && StrCmpNIA(start, word, length) == 0)
            return true;
    }
    return false;
}

// ---- interfaces

namespace {

constexpr unsigned kMaxCalls = 1234;
constexpr auto kListenThreadWait = std::chrono::milliseconds(1000);
constexpr int kRestartPolls = 601;

// The module whose Handler the service control handler reaches.
void ServiceMainEntry(DWORD argc, char** argv)
{
    if (CWindowsServerModule* module = CWindowsServerModule::Current())
        module->ServiceMain(argc, argv);
}

void HandlerEntry(DWORD control)
{
    CWindowsServerModule::ControlCurrent(control);
}

} // namespace

void CWindowsServerModule::ReportRpcError(const char* format, RPC_STATUS status, const char* first)
{
    char text[MAX_PATH];
    FormatRpcErrorStatus(status, text, sizeof text);
    if (first != nullptr)
        LogMessage(format, first, text);
    else
        LogMessage(format, text);
}

void CWindowsServerModule::ReportStatus(DWORD state)
{
    std::lock_guard<std::mutex> guard(stateLock_);
    status_.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status_.dwCurrentState = state;
    status_.dwControlsAccepted = SERVICE_ACCEPT_STOP;
    if (statusHandle_ != nullptr)
        SetServiceStatus(statusHandle_, &status_);
}

HRESULT CWindowsServerModule::PreMessageLoop()
{
    ReportStatus(SERVICE_START_PENDING);
    rpc_ = std::make_unique<CRpcServer>();
    rpc_->SetCallThreadStartHook([] { InstallStructuredExceptionTranslator(); });

    for (LONG port : Ports()) {
        RPC_STATUS status = rpc_->RegisterEndpoint(static_cast<int>(port), kMaxCalls);
        if (status != RPC_S_OK) {
            char portText[16];
            std::snprintf(portText, sizeof portText, "%d", static_cast<int>(port));
            ReportRpcError("Error using TCP/IP endpoint %s - %s", status, portText);
        }
    }
    ReportStatus(SERVICE_START_PENDING);

    for (const GUID* uuid : {&CRemoteInvokeStub::Tqcam50(), &CRemoteInvokeStub::Tqcam65()}) {
        RPC_STATUS status = rpc_->RegisterInterface(stub_.Definition(*uuid));
        if (status != RPC_S_OK)
            ReportRpcError("Error registering server interface - %s", status);
    }
    ReportStatus(SERVICE_RUNNING);

    // Clients reach the fixed ports directly: there is no endpoint mapper to register with.
    std::vector<std::string> bindings;
    RPC_STATUS status = rpc_->InquireBindings(bindings);
    if (status != RPC_S_OK)
        ReportRpcError("Unable to retrieve binding vector - %s", status);

    status = rpc_->Listen(1, kMaxCalls, true);
    if (status != RPC_S_OK) {
        char text[MAX_PATH];
        FormatRpcErrorStatus(status, text, sizeof text);
        LogMessage("RpcServerListen failed (%d) - %s", static_cast<int>(status), text);
        return E_FAIL;
    }

    try {
        listenThread_ = std::thread([this] { ListenThread(); });
        listenThreadStarted_ = true;
    } catch (...) {
        LogMessage("Failed to create internal RPC listen thread");
    }
    return S_OK;
}

void CWindowsServerModule::ListenThread()
{
    InstallStructuredExceptionTranslator();
    RPC_STATUS status = rpc_->WaitListen();
    if (status != RPC_S_OK)
        LogMessage("Internal RPC listen thread terminated with a status of %d", static_cast<int>(status));
    status = rpc_->UnregisterInterface(CRemoteInvokeStub::Tqcam50(), CRemoteInvokeStub::kVersionMajor,
                                       CRemoteInvokeStub::kVersionMinor, true);
    if (status != RPC_S_OK)
        LogMessage("Internal RPC 50 listen thread failed unregistering interface: status = %d",
                   static_cast<int>(status));
    rpc_->UnregisterInterface(CRemoteInvokeStub::Tqcam65(), CRemoteInvokeStub::kVersionMajor,
                              CRemoteInvokeStub::kVersionMinor, true);
    {
        std::lock_guard<std::mutex> guard(stateLock_);
        listenEnded_ = true;
    }
    stateChanged_.notify_all();
}

void CWindowsServerModule::RequestStop()
{
    {
        std::lock_guard<std::mutex> guard(stateLock_);
        stopRequested_ = true;
    }
    stateChanged_.notify_all();
}

int CWindowsServerModule::Run()
{
    // Pool threads run the pending-operation deliveries: a processor fault in
    // one must end that attempt, not the process.
    CThreadPool::Default().SetThreadStartHook(InstallStructuredExceptionTranslator);
    CreateVirtualServers();
    if (FAILED(PreMessageLoop()))
        return 0;

    if (!listenThreadStarted_) {
        LogMessage("Wait Failed (error = %d)", static_cast<int>(ERROR_INVALID_HANDLE));
    } else {
        std::unique_lock<std::mutex> guard(stateLock_);
        stateChanged_.wait(guard, [&] { return stopRequested_ || listenEnded_; });
        if (!stopRequested_) {
            guard.unlock();
            LogMessage("RPC Listen thread terminated abnormally");
        } else {
            guard.unlock();
            rpc_->StopListening();
            guard.lock();
            if (!stateChanged_.wait_for(guard, kListenThreadWait, [&] { return listenEnded_; })) {
                guard.unlock();
                LogMessage("RPC listen thread termination timed out");
            }
        }
    }
    ShutdownServers();
    return 0;
}

void CWindowsServerModule::Handler(DWORD control)
{
    switch (control) {
    case SERVICE_CONTROL_STOP:
        ReportStatus(SERVICE_STOP_PENDING);
        RequestStop();
        break;
    case SERVICE_CONTROL_PAUSE:
    case SERVICE_CONTROL_CONTINUE:
    case SERVICE_CONTROL_INTERROGATE:
    case SERVICE_CONTROL_SHUTDOWN:
        break;
    default:
        LogEvent("Bad service request");
        break;
    }
}

void CWindowsServerModule::ServiceMain(DWORD, char**)
{
    InstallStructuredExceptionTranslator();
    {
        std::lock_guard<std::mutex> guard(stateLock_);
        status_.dwCurrentState = SERVICE_START_PENDING;
    }
    serviceThreadId_ = GetCurrentThreadId();
    statusHandle_ = RegisterServiceCtrlHandlerA(serviceName_.c_str(), HandlerEntry);
    if (statusHandle_ == nullptr) {
        LogEvent("Handler not installed");
        return;
    }
    {
        std::lock_guard<std::mutex> guard(stateLock_);
        status_.dwWin32ExitCode = 0;
        status_.dwCheckPoint = 0;
        status_.dwWaitHint = 0;
    }
    ReportStatus(SERVICE_START_PENDING);
    const int exitCode = Run();
    {
        std::lock_guard<std::mutex> guard(stateLock_);
        status_.dwWin32ExitCode = static_cast<DWORD>(exitCode);
    }
    ReportStatus(SERVICE_STOPPED);
    LogEvent("Service stopped");
}

int CWindowsServerModule::Start()
{
    HKEY appIds = nullptr, appId = nullptr;
    LONG rc = RegOpenKeyExA(HKEY_CLASSES_ROOT, tq::kAppIdKey, 0, KEY_READ, &appIds);
    if (rc != ERROR_SUCCESS)
        return rc;
    rc = RegOpenKeyExA(appIds, tq::kAppId, 0, KEY_READ, &appId);
    RegCloseKey(appIds);
    if (rc != ERROR_SUCCESS)
        return rc;
    // The value's presence decides, whatever its type or size.
    const bool localService =
        RegQueryValueExA(appId, tq::kLocalServiceValue, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
    RegCloseKey(appId);

    if (localService) {
        isService_ = true;
        SERVICE_TABLE_ENTRYA table[] = {{serviceName_.c_str(), ServiceMainEntry}, {nullptr, nullptr}};
        if (!StartServiceCtrlDispatcherA(table))
            return static_cast<int>(GetLastError());
        std::lock_guard<std::mutex> guard(stateLock_);
        return static_cast<int>(status_.dwWin32ExitCode);
    }
    isService_ = false;
    return Run();
}

bool CWindowsServerModule::ParseCommandLine(const char* commandLine, int* exitCode)
{
    *exitCode = 0;
    if (!CommandLineHasSwitch(commandLine, "RestartService"))
        return true;

    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (manager == nullptr)
        return false;
    auto lastErrorResult = [] { return static_cast<int>(HRESULT_FROM_WIN32(GetLastError())); };
    SC_HANDLE service = OpenServiceA(manager, serviceName_.c_str(), SERVICE_QUERY_STATUS | SERVICE_START | SERVICE_STOP);
    if (service == nullptr) {
        *exitCode = lastErrorResult();
        CloseServiceHandle(manager);
        return false;
    }
    SERVICE_STATUS status{};
    if (!ControlService(service, SERVICE_CONTROL_STOP, &status)) {
        *exitCode = lastErrorResult();
    } else {
        for (int poll = 0; poll < kRestartPolls; ++poll) {
            if (QueryServiceStatus(service, &status) && status.dwCurrentState == SERVICE_STOPPED)
                break;
            if (poll + 1 < kRestartPolls)
                ::Sleep(100);
        }
        if (!StartServiceA(service, 0, nullptr))
            *exitCode = lastErrorResult();
    }
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return false;
}

bool CWindowsServerModule::ReleaseAll()
{
    bool ended;
    {
        std::lock_guard<std::mutex> guard(stateLock_);
        ended = listenEnded_ || !listenThreadStarted_;
    }
    if (!ended)
        return false;
    if (listenThread_.joinable())
        listenThread_.join();
    rpc_.reset();
    servers_.clear();
    owned_.clear();
    return true;
}
