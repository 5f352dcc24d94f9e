#include "platform/eventlog/EventLog.h"

#include "platform/win/LastError.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <mutex>
#include <set>
#include <syslog.h>
#include <unistd.h>
#include <unordered_set>

struct EventSource {
    std::string name;
};

namespace {

struct State {
    std::mutex mutex;
    std::unordered_set<EventSource*> sources;
    // openlog keeps the ident pointer, so the texts must outlive every source.
    std::set<std::string> idents;
};

State& Global()
{
    static State* state = new State; // never destroyed: sources may report during exit
    return *state;
}

std::string TypeName(WORD type)
{
    switch (type) {
    case EVENTLOG_SUCCESS: return "Success";
    case EVENTLOG_ERROR_TYPE: return "Error";
    case EVENTLOG_WARNING_TYPE: return "Warning";
    case EVENTLOG_INFORMATION_TYPE: return "Information";
    case EVENTLOG_AUDIT_SUCCESS: return "AuditSuccess";
    case EVENTLOG_AUDIT_FAILURE: return "AuditFailure";
    default: return std::to_string(type);
    }
}

int Priority(WORD type)
{
    switch (type) {
    case EVENTLOG_ERROR_TYPE: return LOG_ERR;
    case EVENTLOG_WARNING_TYPE:
    case EVENTLOG_AUDIT_FAILURE: return LOG_WARNING;
    case EVENTLOG_AUDIT_SUCCESS: return LOG_NOTICE;
    default: return LOG_INFO;
    }
}

void AppendEscaped(std::string& out, const char* text)
{
    if (text == nullptr)
        return;
    for (const char* p = text; *p != '\0'; ++p) {
        switch (*p) {
        case '\t': out += "\\t"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\\': out += "\\\\"; break;
        default: out += *p;
        }
    }
}

// Appends the whole line with one write, so that concurrent writers never mix.
bool AppendLine(const char* path, const std::string& line)
{
    int fd = ::open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        SetLastErrorFromErrno();
        return false;
    }
    ssize_t n = -1;
    do {
        n = ::write(fd, line.data(), line.size());
    } while (n < 0 && errno == EINTR);
    bool ok = n == static_cast<ssize_t>(line.size());
    if (!ok) {
        if (n >= 0)
            errno = ENOSPC; // a short append: the disk filled up
        SetLastErrorFromErrno();
    }
    ::close(fd);
    return ok;
}

} // namespace

HEVENTLOG RegisterEventSourceA(const char* server, const char* sourceName)
{
    if ((server != nullptr && *server != '\0') || sourceName == nullptr || *sourceName == '\0') {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    State& s = Global();
    std::lock_guard<std::mutex> lock(s.mutex);
    auto* source = new EventSource{sourceName};
    s.sources.insert(source);
    s.idents.insert(source->name);
    return source;
}

BOOL DeregisterEventSource(HEVENTLOG source)
{
    State& s = Global();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (source == nullptr || s.sources.erase(source) == 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    delete source;
    return TRUE;
}

BOOL ReportEventA(HEVENTLOG source, WORD type, WORD category, DWORD eventId, const char* userSid, WORD numStrings,
                  DWORD /*dataSize*/, const char** strings, const void* /*rawData*/)
{
    State& s = Global();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (source == nullptr || s.sources.count(source) == 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (strings == nullptr && numStrings > 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    char id[16];
    std::snprintf(id, sizeof id, "0x%08X", eventId);
    std::string fields, message = std::string(id) + " (category " + std::to_string(category) + ")";
    for (WORD i = 0; i < numStrings; ++i) {
        std::string field;
        AppendEscaped(field, strings[i]);
        fields += '\t' + field;
        message += (i == 0 ? ": " : "; ") + field;
    }
    openlog(s.idents.find(source->name)->c_str(), LOG_PID, LOG_DAEMON);
    syslog(Priority(type), "%s", message.c_str());

    const char* path = std::getenv("TQ_EVENTLOG_FILE");
    if (path == nullptr || *path == '\0')
        return TRUE;
    std::string line;
    AppendEscaped(line, source->name.c_str());
    line += '\t' + TypeName(type) + '\t' + std::to_string(category) + '\t' + id + '\t';
    if (userSid != nullptr && *userSid != '\0')
        AppendEscaped(line, userSid);
    else
        line += '-';
    line += fields + '\n';
    return AppendLine(path, line) ? TRUE : FALSE;
}

std::string GetProcessUserSid()
{
    return "S-1-22-1-" + std::to_string(::geteuid());
}
