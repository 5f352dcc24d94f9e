#include "server/dispatch/WinLogImpl.h"

#include "common/Names.h"
#include "platform/pipe/NamedPipe.h"
#include "platform/win/DebugOutput.h"
#include "platform/win/LastError.h"
#include "platform/win/Process.h"
#include "server/shared/FormatText.h"

namespace {

constexpr DWORD kBusyPipeWaitMs = 1000;

const char* OrNA(const char* text)
{
    return text != nullptr ? text : "N/A";
}

} // namespace

CWinLogImpl::CWinLogImpl(DWORD port) : eventLog_(RegisterEventSourceA(nullptr, "TQRT")), port_(port) {}

CWinLogImpl::~CWinLogImpl()
{
    if (eventLog_ != nullptr)
        DeregisterEventSource(eventLog_);
}

HRESULT CWinLogImpl::LogMessage(const char*)
{
    return S_OK;
}

HRESULT CWinLogImpl::ReportEvent(WORD type, WORD category, DWORD eventId, WORD numStrings, const char** strings,
                                 DWORD dataSize, const void* rawData)
{
    if (eventLog_ == nullptr)
        return S_OK;
    std::string sid = GetProcessUserSid();
    ReportEventA(eventLog_, type, category, eventId, sid.empty() ? nullptr : sid.c_str(), numStrings, dataSize,
                 strings, rawData);
    return S_OK;
}

std::string CWinLogImpl::CallPipeName(DWORD port)
{
    std::string name = tq::kLogPipe;
    if (port != 0)
        name += FormatText(".%u", port);
    return name;
}

std::string CWinLogImpl::FormatCallRecord(int kind, int functionCode, const char* callerGuid, const char* message,
                                          HRESULT result, const char* sourceFile, const char* functionName, int line,
                                          DWORD threadId)
{
    return FormatText(tq::kLogCallFormat, kind, functionCode, static_cast<int>(result), OrNA(callerGuid),
                      OrNA(message), OrNA(sourceFile), OrNA(functionName), line, threadId);
}

HRESULT CWinLogImpl::LogCall(int kind, int functionCode, const char* callerGuid, const char* message, HRESULT result,
                             const char* sourceFile, const char* functionName, int line)
{
    WriteToPipe(CallPipeName(port_), FormatCallRecord(kind, functionCode, callerGuid, message, result, sourceFile,
                                                      functionName, line, GetCurrentThreadId()));
    return S_OK;
}

HRESULT CWinLogImpl::LogInfo(const char* text)
{
    WriteToPipe(tq::kInfoPipe,
                FormatText(tq::kLogInfoFormat, OrNA(text), GetCurrentThreadId(), GetModuleFileName().c_str()));
    return S_OK;
}

void CWinLogImpl::WriteToPipe(const std::string& pipeName, const std::string& record)
{
    PipeHandle pipe = INVALID_PIPE_HANDLE;
    DWORD err = PipeOpen(pipeName, &pipe);
    if (err == ERROR_PIPE_BUSY && PipeWait(pipeName, kBusyPipeWaitMs))
        err = PipeOpen(pipeName, &pipe);
    if (err != ERROR_SUCCESS || pipe == INVALID_PIPE_HANDLE)
        return;

    err = PipeSetMessageMode(pipe);
    if (err != ERROR_SUCCESS) {
        OutputDebugStringA(FormatText("Error %u setting pipe handle state:", err).c_str());
        OutputDebugStringA(record.c_str());
        PipeClose(pipe);
        return;
    }
    // The NUL travels with the record: readers take the message as a C string.
    err = PipeWrite(pipe, record.c_str(), static_cast<DWORD>(record.size() + 1), nullptr);
    if (err != ERROR_SUCCESS) {
        OutputDebugStringA(FormatText("Error %u writing message into pipe:", err).c_str());
        OutputDebugStringA(record.c_str());
    }
    PipeClose(pipe);
}
