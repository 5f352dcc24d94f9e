#pragma once
// The begin, end and exception records of one handler call: each carries the
// call's code and caller, the handler's source file and function name, and
// the line that the log has always shown for it. A null log writes nothing.

#include "common/callrecord/InvokeData.h"
#include "server/shared/TQLog.h"

#include <string>

class CCallLog {
public:
    // The function name is "<className>::On<operation>".
    CCallLog(ITQLog* log, const CInvokeData& record, const char* sourceFile, const char* className,
             const char* operation);

    void Begin(const std::string& text, int line);
    void End(const std::string& text, HRESULT result, int line);
    // The operation's name with E_UNEXPECTED; never throws, since the call
    // has failed already.
    void Exception(int line) noexcept;

    // Runs body(log) with the call's log: S_OK, or E_UNEXPECTED after the
    // exception record at exceptionLine when body ended in an exception.
    template <class Body>
    static HRESULT Run(ITQLog* log, const CInvokeData& record, const char* sourceFile, const char* className,
                       const char* operation, int exceptionLine, Body&& body);

private:
    void Write(int kind, const char* text, HRESULT result, int line);

    ITQLog* log_;
    int code_;
    std::string caller_;
    std::string function_;
    const char* sourceFile_;
    const char* operation_;
};

template <class Body>
HRESULT CCallLog::Run(ITQLog* log, const CInvokeData& record, const char* sourceFile, const char* className,
                      const char* operation, int exceptionLine, Body&& body)
{
    try {
        CCallLog call(log, record, sourceFile, className, operation);
        body(call);
        return S_OK;
    } catch (...) {
        try {
            CCallLog(log, record, sourceFile, className, operation).Exception(exceptionLine);
        } catch (...) {
        }
        return E_UNEXPECTED;
    }
}
