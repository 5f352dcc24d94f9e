#include "server/host/WindowsServerModule.h"

#include "common/Names.h"
#include "platform/eventlog/EventLog.h"
#include "platform/registry/Registry.h"
#include "platform/win/LastError.h"
#include "platform/win/Process.h"
#include "platform/win/SystemMessage.h"
#include "server/host/StackOverflow.h"

#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <strings.h>
#include <sys/stat.h>

namespace {

// The message-table entry that shows its one insertion string as it is.
constexpr DWORD kMessageAsLogged = 0x69200002u;
constexpr size_t kHostMessageCapacity = 256;

CWindowsServerModule* g_module = nullptr;

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

bool PathExists(const std::string& path)
{
    struct stat st{};
    return !path.empty() && ::stat(path.c_str(), &st) == 0;
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
    g_module = this;
}

CWindowsServerModule::~CWindowsServerModule()
{
    if (g_module == this)
        g_module = nullptr;
}

CWindowsServerModule* CWindowsServerModule::Current()
{
    return g_module;
}

void CWindowsServerModule::CreateVirtualServers()
{
    std::string folder;
    HKEY main = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, tq::kWardlakeKey, 0, KEY_READ, &main) == ERROR_SUCCESS) {
        folder = ReadFolderValue(main);
        RegCloseKey(main);
    }

    owned_.push_back(std::make_unique<CServerImpl>(tq::kDefaultPort));
    CServerImpl* defaultServer = owned_.back().get();
    servers_[tq::kDefaultPort] = defaultServer;
    if (folder.empty()) {
        // A folder named after the program, relative to the current directory.
        std::string program = GetModuleFileName();
        auto slash = program.rfind('/');
        folder = slash == std::string::npos ? program : program.substr(slash + 1);
    }
    defaultServer->Initialize(folder.c_str(), folder.size());

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
        if (PathExists(subFolder) && port != 0) {
            owned_.push_back(std::make_unique<CServerImpl>(static_cast<LONG>(port)));
            CServerImpl* server = owned_.back().get();
            servers_[static_cast<LONG>(port)] = server;
            server->Initialize(subFolder.c_str(), subFolder.size());
        } else {
            char text[MAX_PATH + 64];
            std::snprintf(text, sizeof text, "Not starting %s: Storage folder doesn't exist", name);
            LogEventEx(kMessageAsLogged, text, EVENTLOG_ERROR_TYPE);
        }
    }
    RegCloseKey(virtualServers);
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
    for (const auto& [port, server] : servers_)
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

LONG InvokeCallRecord(CWindowsServerModule& module, LONG port, const BYTE* request, DWORD requestSize, BYTE** reply,
                      DWORD* replySize)
{
    *reply = nullptr;
    *replySize = 0;
    try {
        CInvokeData record;
        if (!record.Decode(request, requestSize))
            return E_UNEXPECTED;
        record.result = E_NOTIMPL;
        HRESULT hr = module.DispatchToServer(port, &record);
        if (FAILED(hr))
            record.result = hr;
        DWORD size = record.GetEncodedSize(InvokeModeReply);
        auto* block = static_cast<BYTE*>(std::calloc(size, 1));
        if (block == nullptr)
            return E_UNEXPECTED;
        record.Encode(block, static_cast<LONG>(size), InvokeModeReply);
        *reply = block;
        *replySize = size;
        return 0;
    } catch (...) {
        std::free(*reply);
        *reply = nullptr;
        *replySize = 0;
        return E_UNEXPECTED;
    }
}

LONG PortFromStringBinding(const std::string& binding)
{
    auto open = binding.find('[');
    auto close = binding.find(']', open == std::string::npos ? 0 : open);
    if (open == std::string::npos || close == std::string::npos || close == open + 1)
        return tq::kDefaultPort;
    std::string endpoint = binding.substr(open + 1, close - open - 1);
    char* end = nullptr;
    long port = std::strtol(endpoint.c_str(), &end, 10);
    if (end == endpoint.c_str() || (*end != '\0' && *end != ',') || port <= 0 || port > 0x7FFFFFFF)
        return tq::kDefaultPort;
    return static_cast<LONG>(port);
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
        if (static_cast<size_t>(end - start) == length && strncasecmp(start, word, length) == 0)
            return true;
    }
    return false;
}
