#include "server/dispatch/ServerImpl.h"

#include "common/Names.h"
#include "platform/registry/Registry.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <thread>

namespace {

std::string ReadImage(const char* path)
{
    return tqtest::ReadFileText(path);
}



class SnapinTest : public tqtest::StateRootTest {
protected:
    void SetUp() override
    {
        StateRootTest::SetUp();
        // Each test installs under names of its own: test processes share the Snapins folder.
        unique_ = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    }
    void TearDown() override
    {
        if (server_)
            server_->Shutdown();
        server_.reset();
        for (const auto& f : installed_) {
            auto file = std::filesystem::path(f).filename();
            if (!file.empty() && file != "." && file != "..")
                std::filesystem::remove(std::filesystem::path(CServerImpl::SnapinFolder()) / file);
        }
        StateRootTest::TearDown();
    }

    void Register(const char* name, const char* path)
    {
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, tq::kSnapinsKey, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
        ASSERT_EQ(RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(path),
                                 static_cast<DWORD>(std::strlen(path) + 1)),
                  ERROR_SUCCESS);
        RegCloseKey(key);
    }

    void Start()
    {
        server_ = std::make_unique<CServerImpl>(41000);
        ASSERT_EQ(server_->Initialize(folder_.Path().c_str(), folder_.Path().size()), S_OK);
    }

    // A call as a foreign client makes it, result preset as the RPC procedure does.
    HRESULT Call(CInvokeData& r, bool own = false)
    {
        r.result = E_NOTIMPL;
        if (own)
            r.callerGuid = server_->ServerGuid();
        else
            UuidCreate(&r.callerGuid);
        return server_->InvokeFunction(&r);
    }

    std::string FirstOut(CInvokeData& r)
    {
        char text[260] = {};
        r.PopOutString(text, sizeof text);
        return text;
    }

    HRESULT Install(const char* name, const std::string& file, const std::string& image, DWORD replace,
                    bool own = true)
    {
        installed_.push_back(file);
        CInvokeData r(8);
        r.PushInString(name);
        r.PushInString(file.c_str());
        r.PushInBytes(image.data(), static_cast<DWORD>(image.size()));
        r.PushInDword(replace);
        HRESULT hr = Call(r, own);
        EXPECT_EQ(FAILED(hr) ? hr : r.result, r.result);
        return r.result;
    }

    std::string Answer(DWORD code, bool own = false)
    {
        CInvokeData r(code);
        HRESULT hr = Call(r, own);
        if (FAILED(hr))
            return "failed";
        return FirstOut(r);
    }

    tqtest::TempFolder folder_;
    std::unique_ptr<CServerImpl> server_;
    std::string unique_;
    std::vector<std::string> installed_;
};

} // namespace

TEST_F(SnapinTest, FirstClaimerInRegistryOrderWins)
{
    Register("alpha", TEST_SNAPIN_A);
    Register("beta", TEST_SNAPIN_B);
    Start();
    EXPECT_EQ(Answer(5100), "a:5100");
    EXPECT_EQ(Answer(5200), "b:5200");
}

TEST_F(SnapinTest, RestrictedCodesNeedTheServerGuid)
{
    Register("alpha", TEST_SNAPIN_A);
    Start();
    CInvokeData foreign(5002);
    EXPECT_EQ(Call(foreign), E_ACCESSDENIED);
    EXPECT_EQ(foreign.result, E_NOTIMPL);
    EXPECT_EQ(Answer(5002, true), "a:5002");
    EXPECT_EQ(Answer(5001), "a:5001");
}

TEST_F(SnapinTest, RequestItemsReachTheSnapinAndRepliesReplaceTheRecord)
{
    Register("alpha", TEST_SNAPIN_A);
    Start();
    CInvokeData r(5001);
    r.PushInString("hello");
    r.reserved = 42;
    EXPECT_EQ(Call(r), S_OK);
    EXPECT_EQ(r.result, S_OK);
    EXPECT_EQ(r.reserved, 0u); // the reply's own header replaced the record's
    EXPECT_EQ(FirstOut(r), "a:5001");
    EXPECT_EQ(FirstOut(r), "hello");
}

TEST_F(SnapinTest, SnapinReceivesTheServersLogAndFiles)
{
    Register("alpha", TEST_SNAPIN_A);
    Start();
    CInvokeData r(5006);
    EXPECT_EQ(Call(r), S_OK);
    EXPECT_EQ(FirstOut(r), "a:5006");
    EXPECT_EQ(FirstOut(r), folder_.Path() + "/");
}

TEST_F(SnapinTest, EmptyAndUndecodableReplies)
{
    Register("alpha", TEST_SNAPIN_A);
    Start();
    // No reply and a success: the preset result stays.
    CInvokeData none(5003);
    none.PushInString("left");
    EXPECT_EQ(Call(none), S_FALSE);
    EXPECT_EQ(none.result, E_NOTIMPL);
    EXPECT_EQ(none.InCount(), 1u);
    // No reply and a failure: the failure is the status.
    CInvokeData failed(5005);
    EXPECT_EQ(Call(failed), static_cast<HRESULT>(0x80041234u));
    // A reply that does not decode leaves empty queues and the result as before.
    CInvokeData bad(5004);
    bad.PushInString("gone");
    EXPECT_EQ(Call(bad), S_OK);
    EXPECT_EQ(bad.result, E_NOTIMPL);
    EXPECT_EQ(bad.InCount(), 0u);
    EXPECT_EQ(bad.functionCode, 5004u);
}

TEST_F(SnapinTest, QueryCodeAnswersWhetherAnySnapinClaimsIt)
{
    Register("alpha", TEST_SNAPIN_A);
    Start();
    CInvokeData yes(7);
    yes.PushInDword(5002);
    EXPECT_EQ(Call(yes), S_OK);
    EXPECT_EQ(yes.result, S_OK);
    CInvokeData no(7);
    no.PushInDword(5999);
    EXPECT_EQ(Call(no), E_FAIL);
    EXPECT_EQ(no.result, E_FAIL);
}

TEST_F(SnapinTest, MissingLibrariesAreSkipped)
{
    Register("ghost", "/nonexistent/ghost.so");
    Register("alpha", TEST_SNAPIN_A);
    Start();
    EXPECT_EQ(Answer(5001), "a:5001");
}

TEST_F(SnapinTest, InstallNeedsTheServerGuidAndWritesNothingOtherwise)
{
    Start();
    const std::string file = unique_ + ".so";
    EXPECT_EQ(Install("alpha", file, ReadImage(TEST_SNAPIN_A), 0, false), E_ACCESSDENIED);
    EXPECT_FALSE(std::filesystem::exists(CServerImpl::SnapinFolder() + "/" + file));
    EXPECT_EQ(Answer(5001), "failed");
}

TEST_F(SnapinTest, InstallLoadsReplacesAndRefusesWithoutReplaceFlag)
{
    // The key must exist for the value to be written.
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, tq::kSnapinsKey, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
    RegCloseKey(key);
    Start();
    const std::string file = unique_ + ".so";
    // Folder parts of the file name are dropped.
    EXPECT_EQ(Install("Alpha", "..\\../" + file, ReadImage(TEST_SNAPIN_A), 0), S_OK);
    EXPECT_TRUE(std::filesystem::exists(CServerImpl::SnapinFolder() + "/" + file));
    EXPECT_EQ(Answer(5100), "a:5100");

    // Same name, any case, without the replace flag: E_ABORT and no change.
    EXPECT_EQ(Install("ALPHA", file, ReadImage(TEST_SNAPIN_B), 0), E_ABORT);
    EXPECT_EQ(Answer(5100), "a:5100");

    // With the flag the old snap-in goes and the new one answers.
    EXPECT_EQ(Install("alpha", file, ReadImage(TEST_SNAPIN_B), 1), S_OK);
    EXPECT_EQ(Answer(5100), "b:5100");
    EXPECT_EQ(Answer(5001), "failed");

    // The registry names the installed path for the next start.
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, tq::kSnapinsKey, 0, KEY_READ, &key), ERROR_SUCCESS);
    char path[MAX_PATH] = {};
    DWORD size = sizeof path, type = 0;
    EXPECT_EQ(RegQueryValueExA(key, "alpha", nullptr, &type, reinterpret_cast<BYTE*>(path), &size), ERROR_SUCCESS);
    RegCloseKey(key);
    EXPECT_EQ(std::string(path), CServerImpl::SnapinFolder() + "/" + file);
}

TEST_F(SnapinTest, InstallOfSomethingThatIsNoLibraryFails)
{
    Start();
    EXPECT_EQ(Install("junk", unique_ + ".so", "not a library", 0), E_FAIL);
    EXPECT_EQ(Install("junk", "..", ReadImage(TEST_SNAPIN_A), 0), E_INVALIDARG);
}

TEST_F(SnapinTest, CallsDuringReplaceSeeOldNewOrNothing)
{
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, tq::kSnapinsKey, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
    RegCloseKey(key);
    Start();
    const std::string file = unique_ + ".so";
    const std::string a = ReadImage(TEST_SNAPIN_A), b = ReadImage(TEST_SNAPIN_B);
    ASSERT_EQ(Install("swap", file, a, 0), S_OK);

    std::atomic<bool> stop{false};
    std::atomic<int> bad{0}, answered{0};
    std::vector<std::thread> callers;
    for (int t = 0; t < 6; ++t)
        callers.emplace_back([&] {
            while (!stop) {
                CInvokeData r(5300);
                UuidCreate(&r.callerGuid);
                r.result = E_NOTIMPL;
                HRESULT hr = server_->InvokeFunction(&r);
                char text[32] = {};
                r.PopOutString(text, sizeof text);
                std::string s = text;
                if (hr == S_OK && (s == "a:5300" || s == "b:5300"))
                    ++answered;
                else if (hr != E_NOTIMPL)
                    ++bad;
            }
        });
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(Install("swap", file, i % 2 == 0 ? b : a, 1), S_OK);
    stop = true;
    for (auto& t : callers)
        t.join();
    EXPECT_EQ(bad, 0);
    EXPECT_GT(answered, 0);
    EXPECT_EQ(Answer(5300), "a:5300"); // the last of the ten installs
}
