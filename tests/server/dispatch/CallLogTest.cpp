// The records of one handler call, and the text formatter the handlers use.
#include "server/dispatch/CallLog.h"
#include "server/shared/FormatText.h"
#include "tests/server/dispatch/FakeLog.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

namespace {

using dispatchtest::FakeLog;
using dispatchtest::kNilCaller;

TEST(CallLogTest, RecordsCarryTheCallAndTheHandler)
{
    FakeLog log;
    CInvokeData r(4007);
    const HRESULT hr = CCallLog::Run(&log, r, "Source", "CHandlers", "Op", 30, [](CCallLog& call) {
        call.Begin("Op(a)", 10);
        call.End("Op(a) = 1", E_INVALIDARG, 20);
    });
    EXPECT_EQ(hr, S_OK);
    auto records = log.Records();
    ASSERT_EQ(records.size(), 2u);
    for (const auto& rec : records) {
        EXPECT_EQ(rec.code, 4007);
        EXPECT_EQ(rec.caller, kNilCaller);
        EXPECT_EQ(rec.file, "Source");
        EXPECT_EQ(rec.function, "CHandlers::OnOp");
    }
    EXPECT_EQ(records[0].kind, LogCallBegin);
    EXPECT_EQ(records[0].message, "Op(a)");
    EXPECT_EQ(records[0].result, S_OK);
    EXPECT_EQ(records[0].line, 10);
    EXPECT_EQ(records[1].kind, LogCallEnd);
    EXPECT_EQ(records[1].message, "Op(a) = 1");
    EXPECT_EQ(records[1].result, E_INVALIDARG);
    EXPECT_EQ(records[1].line, 20);
}

TEST(CallLogTest, ExceptionBecomesItsRecordAndUnexpected)
{
    FakeLog log;
    CInvokeData r(2004);
    const HRESULT hr = CCallLog::Run(&log, r, "Source", "CHandlers", "Op", 30, [](CCallLog& call) {
        call.Begin("Op()", 10);
        throw std::runtime_error("handler failed");
    });
    EXPECT_EQ(hr, E_UNEXPECTED);
    auto records = log.Records();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[1].kind, LogCallException);
    EXPECT_EQ(records[1].message, "Op");
    EXPECT_EQ(records[1].result, E_UNEXPECTED);
    EXPECT_EQ(records[1].function, "CHandlers::OnOp");
    EXPECT_EQ(records[1].line, 30);
}

TEST(CallLogTest, FailingSinkOrNoSinkNeverFailsTheCallFurther)
{
    FakeLog log;
    log.hook = [](int) { throw std::runtime_error("sink failed"); };
    CInvokeData r(1);
    EXPECT_EQ(CCallLog::Run(&log, r, "S", "C", "Op", 1, [](CCallLog& call) { call.Begin("x", 1); }), E_UNEXPECTED);
    EXPECT_TRUE(log.Records().empty());
    CCallLog direct(&log, r, "S", "C", "Op");
    EXPECT_NO_THROW(direct.Exception(2));

    int ran = 0;
    const HRESULT hr = CCallLog::Run(nullptr, r, "S", "C", "Op", 1, [&](CCallLog& call) {
        call.Begin("x", 1);
        call.End("x", S_OK, 2);
        ++ran;
    });
    EXPECT_EQ(hr, S_OK);
    EXPECT_EQ(ran, 1);
}

TEST(FormatTextTest, TextsOfAnyLength)
{
    EXPECT_EQ(FormatText("%s(%d,0x%X)", "Op", -3, 0xABu), "Op(-3,0xAB)");
    EXPECT_EQ(FormatText("%s", ""), "");
    const std::string longText(5000, 'n');
    EXPECT_EQ(FormatText("<%s>", longText.c_str()), "<" + longText + ">");
}

} // namespace
