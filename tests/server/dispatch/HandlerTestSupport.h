#pragma once
// Helpers for tests of handlers that log their calls: readers of out-items,
// the check of a call's begin and end records, and a gate that holds a call
// inside its begin record (and so inside the handlers' lock).

#include "tests/server/dispatch/FakeLog.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <initializer_list>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

namespace dispatchtest {

inline std::vector<BYTE> OutBytes(CInvokeData& r)
{
    BYTE* data = nullptr;
    DWORD length = 0;
    EXPECT_GE(r.PopOutBytes(&data, &length), 0);
    std::vector<BYTE> out(data, data + length);
    delete[] data;
    return out;
}

inline std::string OutString(CInvokeData& r)
{
    char text[1024] = {};
    EXPECT_GE(r.PopOutString(text, sizeof text), 0);
    return text;
}

inline LONG OutLong(CInvokeData& r)
{
    LONG v = -1;
    EXPECT_GE(r.PopOutInt(&v), 0);
    return v;
}

// The records a call is expected to have written: a begin and an end record
// of one handler function. A null caller is not checked.
struct BeginEnd {
    const char* file;      // the handler's source file
    std::string function;  // the handler's whole function name
    DWORD code;
    std::string begin;
    int beginLine;
    std::string end;
    HRESULT result;
    int endLine;
    const char* caller;
};

// Checks that the log holds exactly those two records, then clears it.
inline void ExpectBeginEnd(FakeLog& log, const BeginEnd& expected)
{
    auto records = log.Records();
    ASSERT_EQ(records.size(), 2u) << expected.function;
    for (const LogRecord& rec : records) {
        EXPECT_EQ(rec.code, static_cast<int>(expected.code));
        if (expected.caller != nullptr) {
            EXPECT_EQ(rec.caller, expected.caller);
        }
        EXPECT_EQ(rec.file, expected.file);
        EXPECT_EQ(rec.function, expected.function);
    }
    EXPECT_EQ(records[0].kind, 0);
    EXPECT_EQ(records[0].message, expected.begin);
    EXPECT_EQ(records[0].result, S_OK);
    EXPECT_EQ(records[0].line, expected.beginLine);
    EXPECT_EQ(records[1].kind, 1);
    EXPECT_EQ(records[1].message, expected.end);
    EXPECT_EQ(records[1].result, expected.result);
    EXPECT_EQ(records[1].line, expected.endLine);
    log.Clear();
}

// Makes the log throw for records of the kinds, before it keeps them.
inline void ThrowOnKinds(FakeLog& log, std::initializer_list<int> kinds)
{
    log.hook = [failing = std::vector<int>(kinds)](int kind) {
        for (int k : failing)
            if (k == kind)
                throw std::runtime_error("log sink failed");
    };
}

// Checks that the log holds exactly one record: the exception record of the
// handler function, naming its operation.
inline void ExpectExceptionOnly(FakeLog& log, const std::string& operation, const std::string& function, int line)
{
    auto records = log.Records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].kind, 2);
    EXPECT_EQ(records[0].message, operation);
    EXPECT_EQ(records[0].result, E_UNEXPECTED);
    EXPECT_EQ(records[0].function, function);
    EXPECT_EQ(records[0].line, line);
}

// Stops every call that writes a begin record to the log there, before the
// record is kept, until Release.
class BeginRecordGate {
public:
    explicit BeginRecordGate(FakeLog& log) : log_(log)
    {
        log_.hook = [this](int kind) {
            if (kind != 0)
                return;
            std::unique_lock lock(m_);
            inside_ = true;
            cv_.notify_all();
            cv_.wait(lock, [&] { return released_; });
        };
    }
    // The calls it held have ended by now.
    ~BeginRecordGate() { log_.hook = nullptr; }
    BeginRecordGate(const BeginRecordGate&) = delete;
    BeginRecordGate& operator=(const BeginRecordGate&) = delete;

    // Whether a call reached its begin record within the time.
    bool WaitInside(std::chrono::seconds time = std::chrono::seconds(10))
    {
        std::unique_lock lock(m_);
        return cv_.wait_for(lock, time, [&] { return inside_; });
    }

    void Release()
    {
        std::lock_guard lock(m_);
        released_ = true;
        cv_.notify_all();
    }

private:
    FakeLog& log_;
    std::mutex m_;
    std::condition_variable cv_;
    bool inside_ = false;
    bool released_ = false;
};

} // namespace dispatchtest
