#pragma once
// The log of one virtual server: call records into its log pipe, info records
// into the info pipe, events into the event log under the source "TQRT".

#include "platform/eventlog/EventLog.h"
#include "server/shared/TQLog.h"

#include <string>

class CWinLogImpl : public ITQLog {
public:
    explicit CWinLogImpl(DWORD port);
    ~CWinLogImpl() override;
    CWinLogImpl(const CWinLogImpl&) = delete;
    CWinLogImpl& operator=(const CWinLogImpl&) = delete;

    HRESULT LogMessage(const char* text) override;
    HRESULT ReportEvent(WORD type, WORD category, DWORD eventId, WORD numStrings, const char** strings,
                        DWORD dataSize, const void* rawData) override;
    HRESULT LogCall(int kind, int functionCode, const char* callerGuid, const char* message, HRESULT result,
                    const char* sourceFile, const char* functionName, int line) override;
    HRESULT LogInfo(const char* text) override;

    // "\\.\pipe\TQC.Log.<port>", or without the suffix for port 0.
    static std::string CallPipeName(DWORD port);
    // The record text of a call, as it goes on the pipe (without its NUL).
    static std::string FormatCallRecord(int kind, int functionCode, const char* callerGuid, const char* message,
                                        HRESULT result, const char* sourceFile, const char* functionName, int line,
                                        DWORD threadId);

private:
    // One record on a fresh connection; dropped when nobody serves the pipe.
    static void WriteToPipe(const std::string& pipeName, const std::string& record);

    HEVENTLOG eventLog_;
    DWORD port_;
};
