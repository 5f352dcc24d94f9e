#pragma once
// A log sink for handler tests: keeps every call record, and can run a hook
// (which may block or throw) before it keeps one.

#include "server/shared/TQLog.h"

#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace dispatchtest {

struct LogRecord {
    int kind;
    int code;
    std::string caller;
    std::string message;
    HRESULT result;
    std::string file;
    std::string function;
    int line;
};

class FakeLog : public ITQLog {
public:
    HRESULT LogMessage(const char*) override { return S_OK; }
    HRESULT ReportEvent(WORD, WORD, DWORD, WORD, const char**, DWORD, const void*) override { return S_OK; }
    HRESULT LogCall(int kind, int code, const char* caller, const char* message, HRESULT result, const char* file,
                    const char* function, int line) override
    {
        if (hook)
            hook(kind);
        std::lock_guard lock(m);
        records.push_back({kind, code, caller, message, result, file, function, line});
        return S_OK;
    }
    HRESULT LogInfo(const char*) override { return S_OK; }

    std::vector<LogRecord> Records()
    {
        std::lock_guard lock(m);
        return records;
    }
    void Clear()
    {
        std::lock_guard lock(m);
        records.clear();
    }

    // Runs before a record is kept; may block or throw.
    std::function<void(int kind)> hook;

private:
    std::mutex m;
    std::vector<LogRecord> records;
};

constexpr const char* kNilCaller = "00000000-0000-0000-0000-000000000000";

} // namespace dispatchtest
