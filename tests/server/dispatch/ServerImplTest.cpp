#include "server/dispatch/ServerImpl.h"

#include "common/Names.h"
#include "platform/registry/Registry.h"
#include "platform/win/Time.h"
#include "tests/support/LogPipeReader.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>

namespace {

class ServerImplTest : public tqtest::StateRootTest {
protected:
    void SetUp() override
    {
        StateRootTest::SetUp();
        server_ = std::make_unique<CServerImpl>(port_);
        ASSERT_EQ(server_->Initialize(folder_.Path().c_str(), folder_.Path().size()), S_OK);
    }
    void TearDown() override
    {
        server_->Shutdown();
        server_.reset();
        StateRootTest::TearDown();
    }

    // Routes a call whose result was preset the way the RPC procedure presets it.
    HRESULT Call(CInvokeData& record)
    {
        record.result = S_FALSE; // a marker: built-in handlers overwrite it, snap-in routing leaves it
        return server_->InvokeFunction(&record);
    }

    void SetAllowFileDeletes(DWORD type, const void* data, DWORD size)
    {
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, tq::kWardlakeKey, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
        ASSERT_EQ(RegSetValueExA(key, tq::kAllowFileDeletesValue, 0, type, static_cast<const BYTE*>(data), size),
                  ERROR_SUCCESS);
        RegCloseKey(key);
    }

    tqtest::TempFolder folder_;
    LONG port_ = 40000 + static_cast<LONG>(::getpid() % 20000);
    std::unique_ptr<CServerImpl> server_;
};

} // namespace

TEST_F(ServerImplTest, InitialisationKeepsFolderAndGuid)
{
    EXPECT_EQ(server_->StorageFolder(), folder_.Path());
    char folder[MAX_PATH] = {};
    ASSERT_EQ(server_->Files()->GetFolder(folder, sizeof folder), S_OK);
    EXPECT_EQ(std::string(folder), folder_.Path() + "/");
    EXPECT_NE(server_->ServerGuid(), GUID_NULL);

    // Every virtual server of the machine reads the same identity.
    CServerImpl second(port_ + 1);
    ASSERT_EQ(second.Initialize(folder_.Path().c_str(), folder_.Path().size()), S_OK);
    EXPECT_EQ(second.ServerGuid(), server_->ServerGuid());
    second.Shutdown();

    BYTE raw[16];
    GetServerGuid(raw);
    EXPECT_EQ(GuidFromBytes(raw), server_->ServerGuid());
}

TEST_F(ServerImplTest, ServerGuidIsRecreatedWhenNotBinary)
{
    std::string key = std::string("CLSID\\") + tq::kServerIdentityClass;
    HKEY h = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, key.c_str(), KEY_ALL_ACCESS, &h), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(h, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>("text"), 5), ERROR_SUCCESS);
    RegCloseKey(h);
    BYTE raw[16];
    GetServerGuid(raw);
    EXPECT_NE(GuidFromBytes(raw), GUID_NULL);
    EXPECT_NE(GuidFromBytes(raw), server_->ServerGuid());
    BYTE again[16];
    GetServerGuid(again);
    EXPECT_EQ(std::memcmp(raw, again, 16), 0);
}

TEST_F(ServerImplTest, EmptyFolderFallsBackToDefault)
{
    CServerImpl other(port_ + 2);
    ASSERT_EQ(other.Initialize(nullptr, 0), S_OK);
    EXPECT_EQ(other.StorageFolder(), CServerImpl::DefaultStorageFolder());
    other.Shutdown();
}

TEST_F(ServerImplTest, CodeNineReturnsNotImplementedUntouched)
{
    CInvokeData r(9);
    r.PushInDword(1);
    EXPECT_EQ(Call(r), E_NOTIMPL);
    EXPECT_EQ(r.result, S_FALSE);
    EXPECT_EQ(r.InCount(), 1u);
}

TEST_F(ServerImplTest, SnapinRangeWithoutSnapinsIsNotImplemented)
{
    // 2001 and 4001 from a client never reach the lists; the rest is no built-in range.
    for (DWORD code : {0u, 800u, 999u, 2001u, 3000u, 3999u, 4001u, 5000u, 0xFFFFFFFFu}) {
        CInvokeData r(code);
        r.PushInString("userlist.fdb");
        EXPECT_EQ(Call(r), E_NOTIMPL) << code;
        EXPECT_EQ(r.result, S_FALSE) << code; // not a handler's answer
        EXPECT_EQ(r.InCount(), 1u) << code;
    }
}

TEST_F(ServerImplTest, CodeSevenWithoutSnapinsIsFail)
{
    CInvokeData r(7);
    r.PushInDword(5000);
    EXPECT_EQ(Call(r), E_FAIL);
    EXPECT_EQ(r.result, E_FAIL);
}

TEST_F(ServerImplTest, CheckinStoresTheTimeAsItemFourNine)
{
    CInvokeData add(4007);
    add.PushInString("PC42");
    ASSERT_EQ(Call(add), S_OK);
    ASSERT_EQ(add.result, S_OK);

    CInvokeData r(1006);
    r.PushInString("PC42.checkin");
    ASSERT_EQ(Call(r), S_OK);
    SYSTEMTIME answered{};
    ASSERT_EQ(r.OutCount(), 1u);
    std::memcpy(&answered, r.OutItems().front().data, 16);

    CInvokeData get(4011);
    get.PushInString("PC42");
    get.PushInDword(4);
    get.PushInDword(9);
    ASSERT_EQ(Call(get), S_OK);
    ASSERT_EQ(get.result, S_OK);
    ASSERT_EQ(get.OutCount(), 1u);
    const InvokeItem& item = get.OutItems().front();
    ASSERT_EQ(item.length, 20u); // "YYYY-MM-DD HH:MM:SS" and its NUL
    EXPECT_EQ(item.data[19], 0);
    char expected[64];
    std::snprintf(expected, sizeof expected, "%.4u-%.2u-%.2u %.2u:%.2u:%.2u", answered.wYear, answered.wMonth,
                  answered.wDay, answered.wHour, answered.wMinute, answered.wSecond);
    EXPECT_STREQ(reinterpret_cast<const char*>(item.data), expected);
}

TEST_F(ServerImplTest, CheckinStoresNothingAndAnswersLocalTime)
{
    CInvokeData r(1006);
    r.PushInString("PC42.checkin");
    SYSTEMTIME before{};
    GetLocalTime(&before);
    EXPECT_EQ(Call(r), S_OK);
    EXPECT_EQ(r.result, S_OK);
    ASSERT_EQ(r.OutCount(), 1u);
    ASSERT_EQ(r.OutItems().front().length, 16u);
    SYSTEMTIME answered{};
    std::memcpy(&answered, r.OutItems().front().data, 16);
    EXPECT_EQ(answered.wYear, before.wYear);
    EXPECT_EQ(answered.wMonth, before.wMonth);
    EXPECT_EQ(r.InCount(), 0u);
}

TEST_F(ServerImplTest, CheckinHookPassesOtherNamesToFileHandler)
{
    CInvokeData r(1006);
    r.PushInString("report.txt");
    EXPECT_FALSE(server_->OnCheckinHook(&r));
    ASSERT_EQ(r.InCount(), 1u);
    char name[260];
    r.PopString(name, sizeof name);
    EXPECT_STREQ(name, "report.txt");

    CInvokeData suffixOnly(1006);
    suffixOnly.PushInString(".checkin");
    EXPECT_TRUE(server_->OnCheckinHook(&suffixOnly));
    EXPECT_EQ(suffixOnly.result, S_OK);
    EXPECT_EQ(suffixOnly.OutCount(), 1u);
}

TEST_F(ServerImplTest, FileDeleteIsRefusedUnlessSwitchedOn)
{
    tqtest::WriteFileText(folder_ / "victim.txt", "keep me");
    tqtest::LogPipeReader reader(CWinLogImpl::CallPipeName(static_cast<DWORD>(port_)));
    auto tryDelete = [&] {
        CInvokeData r(1005);
        r.PushInString("victim.txt");
        EXPECT_EQ(Call(r), S_OK);
        return r.result;
    };
    // Absent, 0, and a REG_SZ all refuse.
    EXPECT_EQ(tryDelete(), E_ACCESSDENIED);
    DWORD zero = 0;
    SetAllowFileDeletes(REG_DWORD, &zero, 4);
    EXPECT_EQ(tryDelete(), E_ACCESSDENIED);
    SetAllowFileDeletes(REG_SZ, "1", 2);
    EXPECT_EQ(tryDelete(), E_ACCESSDENIED);
    EXPECT_EQ(tqtest::ReadFileText(folder_ / "victim.txt"), "keep me");
    // Each refusal wrote one end record of its own.
    auto messages = reader.WaitFor(3);
    ASSERT_EQ(messages.size(), 3u);
    for (const auto& m : messages) {
        auto f = tqtest::LogPipeReader::Fields(m);
        ASSERT_EQ(f.size(), 9u);
        EXPECT_EQ(f[0], "1");
        EXPECT_EQ(f[1], "1005");
        EXPECT_EQ(f[2], std::to_string(E_ACCESSDENIED));
        EXPECT_EQ(f[4], "DeleteFile(victim.txt)");
        EXPECT_EQ(f[5], "ServerImpl");
        EXPECT_EQ(f[6], "CServerImpl::InvokeFunction_CServerImpl");
        EXPECT_EQ(f[7], "192");
    }

    // Switched on, the call reaches the file handlers.
    DWORD one = 1;
    SetAllowFileDeletes(REG_DWORD, &one, 4);
    EXPECT_EQ(tryDelete(), S_OK);
    EXPECT_FALSE(std::filesystem::exists(folder_ / "victim.txt"));
}

TEST_F(ServerImplTest, BuiltInRangesReachTheirHandlers)
{
    tqtest::WriteFileText(folder_ / "five.txt", "12345");
    // Files: 1000 to 1999.
    CInvokeData size(1007);
    size.PushInString("five.txt");
    EXPECT_EQ(Call(size), S_OK);
    LONG n = 0;
    size.PopOutInt(&n);
    EXPECT_EQ(n, 5);
    for (DWORD code : {1000u, 1013u, 1999u}) {
        CInvokeData r(code);
        EXPECT_EQ(Call(r), E_NOTIMPL) << code;
        EXPECT_EQ(r.result, E_NOTIMPL) << code; // answered by the file handlers
    }
    // Settings: 1 to 799 but 7, 8, 9 (code 6 answers E_NOTIMPL and leaves the preset result).
    for (DWORD code : {1u, 10u, 799u}) {
        CInvokeData r(code);
        Call(r);
        EXPECT_NE(r.result, S_FALSE) << code;
    }
    CInvokeData reserved(6);
    EXPECT_EQ(Call(reserved), E_NOTIMPL);
    EXPECT_EQ(reserved.result, S_FALSE);
    // Computer list: 4000 to 4999 but 4001.
    CInvokeData add(4007);
    add.PushInString("WS1");
    EXPECT_EQ(Call(add), S_OK);
    EXPECT_EQ(add.result, S_OK);
    for (DWORD code : {4000u, 4999u}) {
        CInvokeData r(code);
        Call(r);
        EXPECT_EQ(r.result, E_NOTIMPL) << code;
    }
    // User list: 2000 to 2999 but 2001.
    for (DWORD code : {2000u, 2002u, 2999u}) {
        CInvokeData r(code);
        r.PushInString("userlist.fdb");
        Call(r);
        EXPECT_NE(r.result, S_FALSE) << code;
    }
}
