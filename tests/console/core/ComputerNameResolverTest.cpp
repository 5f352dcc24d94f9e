#include "console/core/ComputerNameResolver.h"

#include "common/Names.h"
#include "common/callrecord/InvokeData.h"
#include "console/core/TransportComputerList.h"
#include "platform/registry/Registry.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <map>

namespace {

// A virtual server's computer list as the transport reaches it.
struct FakeServer {
    bool reachable = true;
    std::vector<std::string> names;                              // in list order
    std::map<std::string, std::pair<HRESULT, std::string>> items; // name -> (result, item (4, 7) bytes)
    std::vector<std::string> bindings;
    std::vector<GUID> callers;
    int transportsMade = 0;
    std::function<void()> onCall;
};

class FakeTransport : public ClientTransport {
public:
    explicit FakeTransport(FakeServer& server) : server_(server) {}
    HRESULT Connect(const char* binding, DWORD length) override
    {
        server_.bindings.emplace_back(binding, length);
        return server_.reachable ? S_OK : HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE);
    }
    HRESULT Call(const BYTE* request, DWORD size, BYTE** reply, DWORD* replyLength) override
    {
        CInvokeData in;
        if (!in.Decode(request, size))
            return E_INVALIDARG;
        server_.callers.push_back(in.callerGuid);
        if (server_.onCall)
            server_.onCall();
        CInvokeData out(in.functionCode);
        if (in.functionCode == CTransportComputerList::kGetCompleteComputerList) {
            std::string flat;
            for (const auto& n : server_.names)
                flat += n + '\0';
            flat += '\0';
            out.PushOutBytes(flat.data(), static_cast<DWORD>(flat.size()));
            out.result = S_OK;
        } else if (in.functionCode == CTransportComputerList::kGetComputerInformation) {
            char name[100];
            DWORD app = 0, id = 0;
            in.PopString(name, sizeof name);
            in.PopDword(&app);
            in.PopDword(&id);
            EXPECT_EQ(app, 4u);
            EXPECT_EQ(id, 7u);
            auto it = server_.items.find(name);
            const auto answer = it != server_.items.end() ? it->second
                                                           : std::make_pair(S_FALSE, std::string("DBError", 8));
            out.PushOutBytes(answer.second.data(), static_cast<DWORD>(answer.second.size()));
            out.result = answer.first;
        } else {
            out.result = E_NOTIMPL;
        }
        const DWORD n = out.GetEncodedSize(InvokeModeReply);
        *reply = new BYTE[n];
        *replyLength = n;
        out.Encode(*reply, static_cast<LONG>(n), InvokeModeReply);
        return S_OK;
    }
    HRESULT FreeReply(BYTE* reply) override
    {
        delete[] reply;
        return S_OK;
    }

private:
    FakeServer& server_;
};

constexpr DWORD kPort = 40777;
const GUID kOwnId{0x12345678, 0xABCD, 0xEF01, {1, 2, 3, 4, 5, 6, 7, 8}};
const std::string kOwnText = "12345678-abcd-ef01-0102-030405060708";

class ComputerNameResolverTest : public tqtest::StateRootTest {
protected:
    void SetUp() override
    {
        StateRootTest::SetUp();
        resolver_.clock = [this] { return now_; };
        old_ = SetClientTransportFactory([this](std::unique_ptr<ClientTransport>* out) {
            ++server_.transportsMade;
            *out = std::make_unique<FakeTransport>(server_);
            return S_OK;
        });
    }
    void TearDown() override
    {
        SetClientTransportFactory(old_);
        StateRootTest::TearDown();
    }
    static void SetOwnIdentity(const BYTE* bytes, DWORD size, DWORD type = REG_BINARY)
    {
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, (std::string("CLSID\\") + tq::kServerIdentityClass).c_str(),
                                  KEY_WRITE, &key),
                  ERROR_SUCCESS);
        ASSERT_EQ(RegSetValueExA(key, nullptr, 0, type, bytes, size), ERROR_SUCCESS);
        RegCloseKey(key);
    }
    static void SetOwnIdentity()
    {
        BYTE bytes[16];
        GuidToBytes(kOwnId, bytes);
        SetOwnIdentity(bytes, 16);
    }
    std::string Resolve(const std::string& id)
    {
        std::string text = id;
        resolver_.ResolveComputerName(text);
        return text;
    }
    void AddComputer(const std::string& name, const std::string& id)
    {
        server_.names.push_back(name);
        server_.items[name] = {S_OK, id + '\0'};
    }

    // Past the time a miss is remembered.
    void LetTheMissGo() { now_ += CComputerNameResolver::kMissHold; }

    FakeServer server_;
    ClientTransportFactory old_;
    CComputerNameResolver::Clock::time_point now_{};
    std::atomic<bool> cancel_{false};
    CComputerNameResolver resolver_{kPort, &cancel_};
};

TEST_F(ComputerNameResolverTest, TheNilIdIsTheLocalComputerWithoutAnyLookup)
{
    EXPECT_EQ(Resolve("00000000-0000-0000-0000-000000000000"), "Local Computer");
    EXPECT_EQ(server_.transportsMade, 0);
    EXPECT_TRUE(resolver_.Cache().empty());
}

TEST_F(ComputerNameResolverTest, TheMachinesOwnIdInEitherCaseIsTheLocalComputer)
{
    SetOwnIdentity();
    EXPECT_EQ(Resolve(kOwnText), "Local Computer");
    std::string upper = kOwnText;
    for (char& c : upper)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    EXPECT_EQ(Resolve(upper), "Local Computer");
    EXPECT_EQ(server_.transportsMade, 0);
    // Kept under the lower-case text only.
    EXPECT_EQ(resolver_.Cache(), (std::map<std::string, std::string>{{kOwnText, "Local Computer"}}));
}

TEST_F(ComputerNameResolverTest, AnIdentityOfAnotherTypeOrSizeIsNoLocalId)
{
    BYTE bytes[17] = {};
    GuidToBytes(kOwnId, bytes);
    SetOwnIdentity(bytes, 17);
    EXPECT_EQ(Resolve(kOwnText), kOwnText);
    SetOwnIdentity(bytes, 16, REG_SZ);
    LetTheMissGo();
    EXPECT_EQ(Resolve(kOwnText), kOwnText);
    EXPECT_EQ(server_.transportsMade, 2); // asked the server instead
}

TEST_F(ComputerNameResolverTest, OneEnumerationNamesEveryComputerOfTheServer)
{
    SetOwnIdentity();
    AddComputer("ALPHA", "aaaaaaaa-0000-0000-0000-000000000001");
    AddComputer("BETA", "bbbbbbbb-0000-0000-0000-000000000002");
    EXPECT_EQ(Resolve("bbbbbbbb-0000-0000-0000-000000000002"), "BETA");
    EXPECT_EQ(Resolve("aaaaaaaa-0000-0000-0000-000000000001"), "ALPHA");
    EXPECT_EQ(resolver_.Lookups(), 1u);
    ASSERT_EQ(server_.bindings.size(), 1u);
    EXPECT_EQ(server_.bindings[0], "WINSERVER:127.0.0.1:40777");
    // The console presents the machine's identity on its own calls.
    ASSERT_FALSE(server_.callers.empty());
    for (const auto& g : server_.callers)
        EXPECT_EQ(g, kOwnId);
}

TEST_F(ComputerNameResolverTest, WithoutAnIdentityTheConsoleCallsAsTheNilGuid)
{
    AddComputer("ALPHA", "aaaaaaaa-0000-0000-0000-000000000001");
    EXPECT_EQ(Resolve("aaaaaaaa-0000-0000-0000-000000000001"), "ALPHA");
    for (const auto& g : server_.callers)
        EXPECT_EQ(g, GUID_NULL);
}

TEST_F(ComputerNameResolverTest, ComputersWithoutAnIdItemAreSkippedNotCachedAsDBError)
{
    server_.names.push_back("NOITEM");
    AddComputer("GAMMA", "cccccccc-0000-0000-0000-000000000003");
    EXPECT_EQ(Resolve("DBError"), "DBError");
    EXPECT_EQ(resolver_.Cache().count("DBError"), 0u);
    EXPECT_EQ(Resolve("cccccccc-0000-0000-0000-000000000003"), "GAMMA");
}

TEST_F(ComputerNameResolverTest, AMissIsRememberedForAWhileForEveryIdAndThenAskedForAgain)
{
    AddComputer("ALPHA", "aaaaaaaa-0000-0000-0000-000000000001");
    EXPECT_EQ(Resolve("N/A"), "N/A");
    // Neither the same unknown id nor another, nor a computer added since,
    // costs an enumeration while the last one is recent.
    AddComputer("LATE", "dddddddd-0000-0000-0000-000000000004");
    now_ += CComputerNameResolver::kMissHold - std::chrono::milliseconds(1);
    EXPECT_EQ(Resolve("N/A"), "N/A");
    EXPECT_EQ(Resolve("ffffffff-0000-0000-0000-000000000009"), "ffffffff-0000-0000-0000-000000000009");
    EXPECT_EQ(Resolve("dddddddd-0000-0000-0000-000000000004"), "dddddddd-0000-0000-0000-000000000004");
    EXPECT_EQ(Resolve("aaaaaaaa-0000-0000-0000-000000000001"), "ALPHA");
    EXPECT_EQ(resolver_.Lookups(), 1u);
    // Then the next unknown id asks again, and the computer added meanwhile is found.
    now_ += std::chrono::milliseconds(1);
    EXPECT_EQ(Resolve("dddddddd-0000-0000-0000-000000000004"), "LATE");
    EXPECT_EQ(resolver_.Lookups(), 2u);
    // The identity created meanwhile is read again after the same while.
    SetOwnIdentity();
    LetTheMissGo();
    EXPECT_EQ(Resolve(kOwnText), "Local Computer");
    EXPECT_EQ(resolver_.Lookups(), 2u);
}

TEST_F(ComputerNameResolverTest, AnEnumerationStopsWhenTheWindowEnds)
{
    for (int i = 0; i < 50; ++i)
        AddComputer("PC" + std::to_string(i), "aaaaaaaa-0000-0000-0000-0000000000" + std::to_string(10 + i));
    server_.onCall = [this] {
        if (server_.callers.size() == 5)
            cancel_ = true;
    };
    EXPECT_EQ(Resolve("N/A"), "N/A");
    EXPECT_EQ(server_.callers.size(), 5u);
}

TEST_F(ComputerNameResolverTest, TheLaterOfTwoComputersWithTheSameIdGivesTheName)
{
    AddComputer("FIRST", "eeeeeeee-0000-0000-0000-000000000005");
    AddComputer("SECOND", "eeeeeeee-0000-0000-0000-000000000005");
    EXPECT_EQ(Resolve("eeeeeeee-0000-0000-0000-000000000005"), "SECOND");
}

TEST_F(ComputerNameResolverTest, AnUnreachableServerLeavesTheIdUntilItIsReachable)
{
    AddComputer("ALPHA", "aaaaaaaa-0000-0000-0000-000000000001");
    server_.reachable = false;
    EXPECT_EQ(Resolve("aaaaaaaa-0000-0000-0000-000000000001"), "aaaaaaaa-0000-0000-0000-000000000001");
    EXPECT_TRUE(resolver_.Cache().empty());
    server_.reachable = true;
    LetTheMissGo();
    EXPECT_EQ(Resolve("aaaaaaaa-0000-0000-0000-000000000001"), "ALPHA");

    // No transport at all.
    SetClientTransportFactory([](std::unique_ptr<ClientTransport>*) { return REGDB_E_CLASSNOTREG; });
    CComputerNameResolver fresh(kPort);
    std::string id = "aaaaaaaa-0000-0000-0000-000000000001";
    fresh.ResolveComputerName(id);
    EXPECT_EQ(id, "aaaaaaaa-0000-0000-0000-000000000001");
}

TEST(TransportComputerList, FlatNameLists)
{
    const char flat[] = "A\0BB\0\0C\0";
    EXPECT_EQ(CTransportComputerList::SplitNames(reinterpret_cast<const BYTE*>(flat), sizeof flat - 1),
              (std::vector<std::string>{"A", "BB"}));
    const char unterminated[] = {'X', 'Y'};
    EXPECT_EQ(CTransportComputerList::SplitNames(reinterpret_cast<const BYTE*>(unterminated), 2),
              (std::vector<std::string>{"XY"}));
    EXPECT_TRUE(CTransportComputerList::SplitNames(nullptr, 0).empty());
}

} // namespace
