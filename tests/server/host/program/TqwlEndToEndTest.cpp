// Whole roads through the running program: a client calls over RPC, the
// server does the work in its storage folder, a directory server or a client
// computer.
#include "tests/server/host/program/RunningTqwl.h"
#include "tests/server/host/program/TqwlProcess.h"

#include "server/shared/LdapConfigRecord.h"
#include "server/shared/ComputerList.h"
#include "tests/platform/transport/InvokeListener.h"
#include "tests/server/dispatch/ULTestSupport.h"
#include "tests/support/SlapdServer.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <filesystem>
#include <set>
#include <thread>

using tqtest::InvokeOverRpc;
using tqtest::RunningTqwl;
using tqtest::RunProgram;
using tqtest::TqwlProcess;

namespace {

LONG OutLong(CInvokeData& r)
{
    LONG v = -1;
    r.PopOutInt(&v);
    return v;
}

class TqwlEndToEndTest : public tqtest::StateRootTest {};

class TqwlDirectoryTest : public tqtest::SlapdTest {
protected:
    void SetUp() override
    {
        tqtest::SlapdTest::SetUp();
        if (IsSkipped())
            return;
        old_ = std::getenv("TQ_STATE_ROOT") ? std::getenv("TQ_STATE_ROOT") : "";
        ::setenv("TQ_STATE_ROOT", root_.Path().c_str(), 1);
    }
    void TearDown() override
    {
        if (old_.empty())
            ::unsetenv("TQ_STATE_ROOT");
        else
            ::setenv("TQ_STATE_ROOT", old_.c_str(), 1);
        tqtest::SlapdTest::TearDown();
    }
    tqtest::TempFolder root_;
    std::string old_;
};

} // namespace

TEST_F(TqwlEndToEndTest, SettingsOnAFreshFolderAndAfterDamage)
{
    RunningTqwl tqwl(Root());
    // Fresh folder: defaults, answered with the failure of the missing file.
    auto repl = tqwl.Call(2);
    EXPECT_EQ(OutLong(*repl), 1);
    EXPECT_TRUE(FAILED(repl->result));
    auto interval = tqwl.Call(4);
    EXPECT_EQ(OutLong(*interval), 300000);
    EXPECT_TRUE(FAILED(interval->result));

    // A change writes the file; both read back.
    EXPECT_EQ(tqwl.Call(3, [](CInvokeData& r) { r.PushInDword(0); })->result, S_OK);
    EXPECT_EQ(tqwl.Call(5, [](CInvokeData& r) { r.PushInDword(60000); })->result, S_OK);
    repl = tqwl.Call(2);
    EXPECT_EQ(OutLong(*repl), 0);
    EXPECT_EQ(repl->result, S_OK);
    interval = tqwl.Call(4);
    EXPECT_EQ(OutLong(*interval), 60000);
    EXPECT_EQ(interval->result, S_OK);

    // A damaged file reads as the defaults with a failure, and a change starts it anew.
    std::string file = tqtest::ReadFileText(tqwl.Storage() + "/settings.ad");
    ASSERT_GT(file.size(), 60u);
    file[file.size() - 1] ^= 0x5A;
    tqtest::WriteFileText(tqwl.Storage() + "/settings.ad", file);
    interval = tqwl.Call(4);
    EXPECT_EQ(OutLong(*interval), 300000);
    EXPECT_TRUE(FAILED(interval->result));
    EXPECT_EQ(tqwl.Call(5, [](CInvokeData& r) { r.PushInDword(1234); })->result, S_OK);
    interval = tqwl.Call(4);
    EXPECT_EQ(OutLong(*interval), 1234);
    EXPECT_EQ(interval->result, S_OK);
    // Code 6 is no setting.
    EXPECT_EQ(tqwl.Call(6)->result, E_NOTIMPL);
}

TEST_F(TqwlDirectoryTest, BrowsesAnLdapContainerOverRpc)
{
    RunningTqwl tqwl(root_.Path());
    auto configure = [&](const std::string& password) {
        LdapConfigRecord settings;
        settings.Clear();
        LdapConfigRecord::SetField(settings.server, slapd_.Server());
        LdapConfigRecord::SetField(settings.account, tqtest::SlapdServer::kAdminDn);
        LdapConfigRecord::SetField(settings.password, password);
        LdapConfigRecord::SetField(settings.container, "ou=Sales,dc=example,dc=test");
        return tqwl.Call(2033, [&](CInvokeData& r) { r.PushInBytes(&settings, sizeof settings); })->result;
    };
    auto list = [&](const std::string& path, HRESULT* result) {
        auto reply = tqwl.Call(2031, [&](CInvokeData& r) { r.PushInString(path.c_str()); });
        *result = reply->result;
        BYTE* bytes = nullptr;
        DWORD length = 0;
        reply->PopOutBytes(&bytes, &length);
        std::vector<BYTE> flat(bytes, bytes + length);
        delete[] bytes;
        std::set<std::string> names;
        for (const auto& entry : dispatchtest::FlatEntries(flat))
            names.insert(entry.substr(0, entry.find(':', entry.find(':') + 1)));
        return names;
    };

    ASSERT_EQ(configure(tqtest::SlapdServer::kAdminPassword), S_OK);
    HRESULT hr = E_FAIL;
    auto names = list("", &hr);
    EXPECT_EQ(hr, S_OK);
    // Tags: 2 users, 1 computers, 3 groups, 5 containers.
    for (const char* expected : {"2:asmith", "2:carol", "2:Bob Jones", "1:WS01", "3:Staff", "5:East"})
        EXPECT_TRUE(names.count(expected)) << expected;

    // The settings outlive the call, in LDAPConfig.ad; a wrong password fails the bind.
    EXPECT_TRUE(std::filesystem::exists(tqwl.Storage() + "/LDAPConfig.ad"));
    ASSERT_EQ(configure("wrong"), S_OK);
    names = list("", &hr);
    EXPECT_EQ(hr, HRESULT_FROM_WIN32(ERROR_LOGON_FAILURE));
    EXPECT_TRUE(names.empty());
}

TEST_F(TqwlEndToEndTest, UrgentOperationIsDeliveredToItsComputer)
{
    // The client computers' port: these cases run one at a time.
    ASSERT_TRUE(tqtest::WaitUntilPortFree(34348));
    transporttest::InvokeListener computer(34348);
    std::atomic<int> calls{0};
    std::atomic<HRESULT> answer{static_cast<HRESULT>(0x80041001u)};
    computer.SetAnswer([&](const std::vector<BYTE>& request) {
        ++calls;
        CInvokeData in;
        in.Decode(request.data(), request.size());
        CInvokeData out(in.functionCode);
        out.result = answer;
        transporttest::InvokeAnswer a;
        a.reply.resize(out.GetEncodedSize(InvokeModeReply));
        out.Encode(a.reply.data(), static_cast<LONG>(a.reply.size()), InvokeModeReply);
        return a;
    });

    RunningTqwl tqwl(Root());
    ASSERT_EQ(tqwl.Call(4007, [](CInvokeData& r) { r.PushInString("PC7"); })->result, S_OK);
    ASSERT_EQ(tqwl.Call(4010, [](CInvokeData& r) {
                  r.PushInString("PC7");
                  r.PushInDword(kServerAppId);
                  r.PushInDword(kItemNetworkAddress);
                  r.PushInBytes("127.0.0.1", 10);
              })->result,
              S_OK);

    auto addOp = [&](DWORD appId, DWORD priority) {
        PendingOpRecord op{};
        op.appId = appId;
        op.id = 3;
        auto reply = tqwl.Call(4014, [&](CInvokeData& r) {
            r.PushInString("PC7");
            r.PushInBytes(&op, sizeof op);
            r.PushInString("urgent");
            r.PushInString("");
            r.PushInBytes("data", 4);
            r.PushInDword(priority);
        });
        EXPECT_EQ(reply->result, S_OK);
        return static_cast<DWORD>(OutLong(*reply));
    };
    auto remarks = [&](DWORD opId) {
        auto reply = tqwl.Call(4033, [&](CInvokeData& r) {
            r.PushInString("PC7");
            r.PushInDword(opId);
        });
        BYTE* image = nullptr;
        DWORD length = 0;
        reply->PopOutBytes(&image, &length);
        delete[] image;
        char description[260] = {}, text[260] = {};
        reply->PopOutString(description, sizeof description);
        reply->PopOutString(text, sizeof text);
        return std::string(text);
    };

    // A failure: one attempt at once, noted in the row, with four retries to come.
    const DWORD first = addOp(11, 5);
    ASSERT_TRUE(computer.AwaitRequests(1));
    CInvokeData received;
    auto request = computer.Requests().front();
    ASSERT_TRUE(received.Decode(request.data(), request.size()));
    EXPECT_EQ(received.functionCode, 801u);
    DWORD appId = 0, opId = 0;
    received.PopDword(&appId);
    received.PopDword(&opId);
    EXPECT_EQ(appId, 11u);
    EXPECT_EQ(opId, first);
    std::string noted;
    for (int i = 0; i < 200 && (noted = remarks(first)).find("retries left") == std::string::npos; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(noted, "Immediate execution failed (0x80041001), 4 retries left");

    // A computer that does not run operations at once is asked once and left alone.
    answer = E_NOTIMPL;
    const DWORD second = addOp(12, 9);
    ASSERT_TRUE(computer.AwaitRequests(2));
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_EQ(calls.load(), 2);
    EXPECT_EQ(remarks(second), "");
}
