#pragma once
// The log sink of one virtual server, handed to handlers and snap-ins. The
// slot order is part of the snap-in contract.

#include "SnapinTypes.h"

enum LogCallKind : int {
    LogCallBegin = 0,
    LogCallEnd = 1,
    LogCallException = 2,
};

class ITQLog {
public:
    virtual HRESULT LogMessage(const char* text) = 0;
    virtual HRESULT ReportEvent(WORD type, WORD category, DWORD eventId, WORD numStrings, const char** strings,
                                DWORD dataSize, const void* rawData) = 0;
    virtual HRESULT LogCall(int kind, int functionCode, const char* callerGuid, const char* message, HRESULT result,
                            const char* sourceFile, const char* functionName, int line) = 0;
    virtual HRESULT LogInfo(const char* text) = 0;
    virtual ~ITQLog() = default;
};
