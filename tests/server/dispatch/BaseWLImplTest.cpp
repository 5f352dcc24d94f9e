#include "server/dispatch/BaseWLImpl.h"

#include "server/dispatch/ServerImpl.h"
#include "server/dispatch/WinFileImpl.h"
#include "server/storage/attributes/Attribute.h"
#include "server/storage/attributes/AttributeDirectory.h"
#include "server/storage/container/DynIO.h"
#include "tests/server/storage/container/ContainerTestSupport.h"
#include "tests/server/storage/container/MemoryFileIO.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <thread>

namespace {

using tqtest::Bytes;
using tqtest::CountOf;

constexpr HRESULT kPreset = static_cast<HRESULT>(0x80001234u);
constexpr LONG kReplStatusId = 11005;
constexpr LONG kUpdateIntervalId = 11004;

struct Answer {
    HRESULT dispatch;
    HRESULT result;
    LONG value; // the out-item, or -999 when there is none
};

Answer Call(CBaseWLImpl& settings, DWORD code, const DWORD* in = nullptr)
{
    CInvokeData record(code);
    record.result = kPreset;
    if (in != nullptr)
        record.PushInDword(*in);
    Answer a{settings.Dispatch(&record), record.result, -999};
    if (record.OutCount() > 0) {
        EXPECT_EQ(record.OutItems().front().type, static_cast<DWORD>(InvokeItemLong));
        record.PopOutInt(&a.value);
    }
    EXPECT_EQ(record.OutCount(), 0u) << "more than one out-item";
    return a;
}

Answer Get(CBaseWLImpl& settings, DWORD code)
{
    return Call(settings, code);
}

Answer Set(CBaseWLImpl& settings, DWORD code, DWORD value)
{
    return Call(settings, code, &value);
}

class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(files.SetFolder(nullptr, folder.Path().c_str()), S_OK);
        ASSERT_EQ(settings.SetUp(nullptr, &files), S_OK);
    }

    std::string SettingsPath() const { return folder / "settings.ad"; }

    Bytes ReadSettings() const
    {
        std::ifstream in(SettingsPath(), std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    void WriteSettings(const Bytes& bytes) const
    {
        std::ofstream out(SettingsPath(), std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }

    tqtest::TempFolder folder;
    CWinFileImpl files;
    CBaseWLImpl settings;
};

TEST_F(SettingsTest, FreshFolderAnswersDefaultsAsFailures)
{
    Answer a = Get(settings, SettingsGetReplStatus);
    EXPECT_EQ(a.dispatch, S_OK);
    EXPECT_EQ(a.result, E_FAIL);
    EXPECT_EQ(a.value, 1);
    a = Get(settings, SettingsGetUpdateInterval);
    EXPECT_EQ(a.dispatch, S_OK);
    EXPECT_EQ(a.result, E_FAIL);
    EXPECT_EQ(a.value, 300000);
}

TEST_F(SettingsTest, SwitchingReplicationOffCreatesTheFile)
{
    Answer a = Set(settings, SettingsSetReplStatus, 0);
    EXPECT_EQ(a.dispatch, S_OK);
    EXPECT_EQ(a.result, S_OK);
    EXPECT_EQ(a.value, -999) << "a change answers no value";

    // The file holds ReplStatus alone, off, digested.
    CDynIO io(&files);
    CAttributeDirectory dir;
    ASSERT_EQ(io.Load("settings.ad", &dir), S_OK);
    EXPECT_EQ(CountOf(dir), 1);
    CAttribute* attribute = nullptr;
    ASSERT_EQ(dir.GetFirstAttribute(&attribute), S_OK);
    char name[32];
    LONG count = sizeof name;
    attribute->GetName(name, &count);
    EXPECT_STREQ(name, "ReplStatus");
    LONG appId = 0, id = 0, state = -5;
    attribute->GetAppId(&appId);
    attribute->GetId(&id);
    attribute->GetFlag(1, &state);
    EXPECT_EQ(appId, 4);
    EXPECT_EQ(id, kReplStatusId);
    EXPECT_EQ(state, 0);
    attribute->Release();
    const Bytes file = ReadSettings();
    ASSERT_GE(file.size(), 76u);
    EXPECT_EQ(tqtest::WordAt(file, 4), 20u);
    EXPECT_EQ(tqtest::WordAt(file, 28) & CONTAINER_SHA1, CONTAINER_SHA1);

    a = Get(settings, SettingsGetReplStatus);
    EXPECT_EQ(a.result, S_OK);
    EXPECT_EQ(a.value, 0);
    a = Get(settings, SettingsGetUpdateInterval);
    EXPECT_EQ(a.result, E_OUTOFMEMORY) << "what the query gives for no match";
    EXPECT_EQ(a.value, 300000);
}

TEST_F(SettingsTest, IntervalOnAFreshFolder)
{
    ASSERT_EQ(Set(settings, SettingsSetUpdateInterval, 60000).result, S_OK);
    Answer a = Get(settings, SettingsGetUpdateInterval);
    EXPECT_EQ(a.result, S_OK);
    EXPECT_EQ(a.value, 60000);
    a = Get(settings, SettingsGetReplStatus);
    EXPECT_EQ(a.result, S_FALSE);
    EXPECT_EQ(a.value, 1);
}

TEST_F(SettingsTest, OnlyOneSwitchesReplicationOn)
{
    ASSERT_EQ(Set(settings, SettingsSetReplStatus, 1).result, S_OK);
    EXPECT_EQ(Get(settings, SettingsGetReplStatus).value, 1);
    ASSERT_EQ(Set(settings, SettingsSetReplStatus, 2).result, S_OK);
    EXPECT_EQ(Get(settings, SettingsGetReplStatus).value, 0);
    ASSERT_EQ(Set(settings, SettingsSetReplStatus, 0xFFFFFFFFu).result, S_OK);
    EXPECT_EQ(Get(settings, SettingsGetReplStatus).value, 0);
    ASSERT_EQ(Set(settings, SettingsSetReplStatus, 1).result, S_OK);
    const Answer a = Get(settings, SettingsGetReplStatus);
    EXPECT_EQ(a.result, S_OK);
    EXPECT_EQ(a.value, 1);
}

TEST_F(SettingsTest, BothSettingsLiveSideBySide)
{
    ASSERT_EQ(Set(settings, SettingsSetReplStatus, 0).result, S_OK);
    ASSERT_EQ(Set(settings, SettingsSetUpdateInterval, 1234).result, S_OK);
    ASSERT_EQ(Set(settings, SettingsSetUpdateInterval, 4321).result, S_OK);
    EXPECT_EQ(Get(settings, SettingsGetReplStatus).value, 0);
    EXPECT_EQ(Get(settings, SettingsGetUpdateInterval).value, 4321);

    CDynIO io(&files);
    CAttributeDirectory dir;
    ASSERT_EQ(io.Load("settings.ad", &dir), S_OK);
    EXPECT_EQ(CountOf(dir), 2) << "a change reuses the setting's attribute";
}

TEST_F(SettingsTest, IntervalKeepsTwentyEightBits)
{
    ASSERT_EQ(Set(settings, SettingsSetUpdateInterval, 0x10000000u | 777).result, S_OK);
    EXPECT_EQ(Get(settings, SettingsGetUpdateInterval).value, 777);
    ASSERT_EQ(Set(settings, SettingsSetUpdateInterval, 0x0FFFFFFFu).result, S_OK);
    EXPECT_EQ(Get(settings, SettingsGetUpdateInterval).value, 0x0FFFFFFF);
}

// Other attributes that share the file survive a change.
TEST_F(SettingsTest, ChangeKeepsTheRestOfTheFile)
{
    CAttributeDirectory dir;
    ASSERT_TRUE(tqtest::AddText(dir, "Other", 7, 1, "kept"));
    CDynIO io(&files);
    ASSERT_EQ(io.Save("settings.ad", &dir, CONTAINER_LZW), S_OK);

    ASSERT_EQ(Set(settings, SettingsSetUpdateInterval, 5).result, S_OK);
    CAttributeDirectory after;
    ASSERT_EQ(io.Load("settings.ad", &after), S_OK);
    EXPECT_EQ(CountOf(after), 2);
    EXPECT_EQ(tqtest::WordAt(ReadSettings(), 28) & CONTAINER_LZW, 0u) << "saved anew as digest and LZO1X";
}

TEST_F(SettingsTest, DamagedFile)
{
    ASSERT_EQ(Set(settings, SettingsSetReplStatus, 0).result, S_OK);
    ASSERT_EQ(Set(settings, SettingsSetUpdateInterval, 999).result, S_OK);
    Bytes file = ReadSettings();
    file.back() ^= 0x01;
    WriteSettings(file);

    Answer a = Get(settings, SettingsGetReplStatus);
    EXPECT_EQ(a.result, E_FAIL);
    EXPECT_EQ(a.value, 1);
    a = Get(settings, SettingsGetUpdateInterval);
    EXPECT_EQ(a.result, E_FAIL);
    EXPECT_EQ(a.value, 300000);

    // A change writes a new file with its own setting alone.
    ASSERT_EQ(Set(settings, SettingsSetReplStatus, 0).result, S_OK);
    a = Get(settings, SettingsGetReplStatus);
    EXPECT_EQ(a.result, S_OK);
    EXPECT_EQ(a.value, 0);
    a = Get(settings, SettingsGetUpdateInterval);
    EXPECT_EQ(a.result, E_OUTOFMEMORY);
    EXPECT_EQ(a.value, 300000);
}

// A file whose records break off: what came before the damage is not
// carried into the new file.
TEST_F(SettingsTest, TruncatedBareFileIsReplaced)
{
    CAttributeDirectory dir;
    ASSERT_TRUE(tqtest::AddText(dir, "Stale", 4, 11005, "looks like the setting"));
    Bytes stream = tqtest::StreamOf(dir);
    stream.push_back(0x01);
    WriteSettings(stream);

    ASSERT_EQ(Set(settings, SettingsSetUpdateInterval, 42).result, S_OK);
    CDynIO io(&files);
    CAttributeDirectory after;
    ASSERT_EQ(io.Load("settings.ad", &after), S_OK);
    EXPECT_EQ(CountOf(after), 1);
    EXPECT_EQ(Get(settings, SettingsGetUpdateInterval).value, 42);
    EXPECT_EQ(Get(settings, SettingsGetReplStatus).result, S_FALSE);
}

TEST_F(SettingsTest, ReservedAndUnknownCodes)
{
    Answer a = Get(settings, SettingsReserved);
    EXPECT_EQ(a.dispatch, E_NOTIMPL);
    EXPECT_EQ(a.result, kPreset) << "code 6 leaves the result as the host preset it";
    for (DWORD code : {0u, 1u, 7u, 10u, 1001u}) {
        a = Get(settings, code);
        EXPECT_EQ(a.dispatch, E_NOTIMPL) << code;
        EXPECT_EQ(a.result, E_NOTIMPL) << code;
        EXPECT_EQ(a.value, -999);
    }
    EXPECT_EQ(settings.Dispatch(nullptr), E_INVALIDARG);
    EXPECT_FALSE(std::ifstream(SettingsPath()).good()) << "no code but a change writes the file";
}

// Changes from many threads at once: each one sees the one before, so none
// of them is lost.
TEST_F(SettingsTest, ConcurrentChangesLoseNothing)
{
    constexpr int kRounds = 60;
    ASSERT_EQ(Set(settings, SettingsSetUpdateInterval, 0).result, S_OK); // the reader never sees no file
    std::thread interval([&] {
        for (int i = 1; i <= kRounds; ++i)
            EXPECT_EQ(Set(settings, SettingsSetUpdateInterval, static_cast<DWORD>(i)).result, S_OK);
    });
    std::thread repl([&] {
        for (int i = 1; i <= kRounds; ++i)
            EXPECT_EQ(Set(settings, SettingsSetReplStatus, static_cast<DWORD>(i % 2)).result, S_OK);
    });
    std::thread reader([&] {
        for (int i = 0; i < kRounds; ++i)
            EXPECT_NE(Get(settings, SettingsGetUpdateInterval).result, E_FAIL) << "read a half-written file";
    });
    interval.join();
    repl.join();
    reader.join();
    Answer a = Get(settings, SettingsGetUpdateInterval);
    EXPECT_EQ(a.result, S_OK);
    EXPECT_EQ(a.value, kRounds);
    a = Get(settings, SettingsGetReplStatus);
    EXPECT_EQ(a.result, S_OK);
    EXPECT_EQ(a.value, 0);
}

// The settings codes as a virtual server routes them, over its own storage folder.
class ServerSettingsTest : public tqtest::StateRootTest {};

TEST_F(ServerSettingsTest, CodesReachTheSettingsOfTheServersFolder)
{
    tqtest::TempFolder folder;
    CServerImpl server(tqtest::FreeTcpPort());
    ASSERT_EQ(server.Initialize(folder.Path().c_str(), folder.Path().size()), S_OK);

    CInvokeData read(SettingsGetUpdateInterval);
    EXPECT_EQ(server.InvokeFunction(&read), S_OK);
    EXPECT_EQ(read.result, E_FAIL);

    CInvokeData change(SettingsSetUpdateInterval);
    change.PushInDword(45000);
    EXPECT_EQ(server.InvokeFunction(&change), S_OK);
    EXPECT_EQ(change.result, S_OK);
    EXPECT_TRUE(std::ifstream(folder / "settings.ad").good());

    CInvokeData again(SettingsGetUpdateInterval);
    EXPECT_EQ(server.InvokeFunction(&again), S_OK);
    EXPECT_EQ(again.result, S_OK);
    LONG value = 0;
    again.PopOutInt(&value);
    EXPECT_EQ(value, 45000);
    server.Shutdown();
}

// Over a file layer whose failures can be chosen.
class SettingsFailureTest : public ::testing::Test {
protected:
    void SetUp() override { settings.SetUp(nullptr, &mem); }

    tqtest::MemoryFileIO mem;
    CBaseWLImpl settings;
};

// A file that exists but cannot be read now is not overwritten: the change
// fails with the reason, and the settings in it stay.
TEST_F(SettingsFailureTest, UnreadableFileIsNotReplaced)
{
    ASSERT_EQ(Set(settings, SettingsSetReplStatus, 0).result, S_OK);
    ASSERT_EQ(Set(settings, SettingsSetUpdateInterval, 77).result, S_OK);
    const Bytes before = mem.files["settings.ad"];

    constexpr HRESULT kSharing = HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION);
    mem.failOpen = kSharing;
    Answer a = Set(settings, SettingsSetUpdateInterval, 88);
    EXPECT_EQ(a.dispatch, S_OK);
    EXPECT_EQ(a.result, kSharing);
    a = Get(settings, SettingsGetUpdateInterval);
    EXPECT_EQ(a.result, E_FAIL);
    EXPECT_EQ(a.value, 300000);
    mem.failOpen = S_OK;

    mem.failRead = HRESULT_FROM_WIN32(ERROR_READ_FAULT);
    EXPECT_EQ(Set(settings, SettingsSetReplStatus, 1).result, HRESULT_FROM_WIN32(ERROR_READ_FAULT));
    mem.failRead = S_OK;

    EXPECT_TRUE(mem.files["settings.ad"] == before);
    EXPECT_EQ(Get(settings, SettingsGetUpdateInterval).value, 77);
    EXPECT_EQ(Get(settings, SettingsGetReplStatus).value, 0);
}

TEST_F(SettingsFailureTest, SaveFailureIsTheResult)
{
    constexpr HRESULT kDiskFull = HRESULT_FROM_WIN32(ERROR_DISK_FULL);
    mem.failWrite = kDiskFull;
    EXPECT_EQ(Set(settings, SettingsSetUpdateInterval, 5).result, kDiskFull);
    EXPECT_EQ(mem.OpenHandles(), 0u);
}

TEST_F(SettingsFailureTest, WithoutAFileLayer)
{
    CBaseWLImpl unset;
    Answer a = Get(unset, SettingsGetReplStatus);
    EXPECT_EQ(a.result, E_FAIL);
    EXPECT_EQ(a.value, 1);
    EXPECT_EQ(Set(unset, SettingsSetReplStatus, 1).result, E_UNEXPECTED);
}

} // namespace
