#include "server/dispatch/CallLog.h"

CCallLog::CCallLog(ITQLog* log, const CInvokeData& record, const char* sourceFile, const char* className,
                   const char* operation)
    : log_(log), code_(static_cast<int>(record.functionCode)),
      caller_(log != nullptr ? GetCallerGuidText(record) : std::string()),
      function_(std::string(className) + "::On" + operation), sourceFile_(sourceFile), operation_(operation)
{
}

void CCallLog::Begin(const std::string& text, int line)
{
    Write(LogCallBegin, text.c_str(), S_OK, line);
}

void CCallLog::End(const std::string& text, HRESULT result, int line)
{
    Write(LogCallEnd, text.c_str(), result, line);
}

void CCallLog::Exception(int line) noexcept
{
    try {
        Write(LogCallException, operation_, E_UNEXPECTED, line);
    } catch (...) {
        // Logging never fails a call.
    }
}

void CCallLog::Write(int kind, const char* text, HRESULT result, int line)
{
    if (log_ != nullptr)
        log_->LogCall(kind, code_, caller_.c_str(), text, result, sourceFile_, function_.c_str(), line);
}
