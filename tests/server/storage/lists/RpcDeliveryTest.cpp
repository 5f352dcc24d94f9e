// Delivery of pending operations over the real RPC transport to a peer on
// loopback. Computers listen on a fixed port, which tests must not take, so
// the transport is aimed at the peer's free port after the delivery chose
// its binding; everything else is the production path.
#include "platform/threadpool/ThreadPool.h"
#include "platform/transport/RpcClientTransport.h"
#include "server/host/ExceptionTranslator.h"
#include "common/callrecord/InvokeData.h"
#include "tests/platform/transport/InvokeListener.h"
#include "tests/server/storage/lists/DeliveryTestFixture.h"
#include "tests/support/TestSupport.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

using transporttest::InvokeAnswer;
using transporttest::InvokeListener;
using liststest::RetryRemark;
using liststest::WaitingRemark;
using namespace std::chrono_literals;

namespace {

// The real transport, sent to another port than the binding names.
class RedirectedTransport : public ClientTransport {
public:
    RedirectedTransport(int port, std::vector<std::string>* bindings, std::mutex* mutex)
        : port_(port), bindings_(bindings), mutex_(mutex)
    {
    }
    HRESULT Connect(const char* binding, DWORD length) override
    {
        std::string text(binding, length);
        {
            std::lock_guard lock(*mutex_);
            bindings_->push_back(text);
        }
        const std::string fixedPort = ":" + std::to_string(CPendingOpDelivery::kClientPort);
        if (text.ends_with(fixedPort))
            text.replace(text.size() - fixedPort.size(), fixedPort.size(), ":" + std::to_string(port_));
        return inner_.Connect(text.c_str(), static_cast<DWORD>(text.size()));
    }
    HRESULT Call(const BYTE* request, DWORD size, BYTE** reply, DWORD* replyLength) override
    {
        return inner_.Call(request, size, reply, replyLength);
    }
    HRESULT FreeReply(BYTE* reply) override { return inner_.FreeReply(reply); }

private:
    CRpcClientTransport inner_;
    int port_;
    std::vector<std::string>* bindings_;
    std::mutex* mutex_;
};

// What the peer received in one request, and what the row said then.
struct Received {
    DWORD code = 0;
    DWORD mode = 0;
    std::vector<std::pair<DWORD, DWORD>> items; // type, value
    std::string remarksThen;
};

class RpcDeliveryTest : public liststest::DeliveryTestBase {
protected:
    void SetUp() override
    {
        StoreTest::SetUp();
        previous_ = SetClientTransportFactory([this](std::unique_ptr<ClientTransport>* out) {
            *out = std::make_unique<RedirectedTransport>(port_, &bindings_, &mutex_);
            return S_OK;
        });
        SetAddress("PC1", "127.0.0.1");
        SetAddress("PC2", "127.0.0.1");
        AnswerWith(S_OK);
    }
    void TearDown() override
    {
        RunCaptured();
        store.reset();
        SetClientTransportFactory(previous_);
    }

    void SetAddress(const char* computer, const std::string& address)
    {
        ASSERT_EQ(store->SetComputerInformation(computer, kServerAppId, kItemNetworkAddress,
                                                reinterpret_cast<const BYTE*>(address.c_str()),
                                                static_cast<int>(address.size() + 1)),
                  S_OK);
    }

    // The peer answers every call with a reply record holding hr.
    void AnswerWith(HRESULT hr)
    {
        peer.SetAnswer([this, hr](const std::vector<BYTE>& request) {
            Received r;
            CInvokeData record;
            if (record.Decode(request.data(), request.size())) {
                r.code = record.functionCode;
                std::memcpy(&r.mode, request.data() + 4, 4);
                for (const InvokeItem& item : record.InItems()) {
                    DWORD value = 0;
                    std::memcpy(&value, item.data, std::min<DWORD>(item.length, 4));
                    r.items.emplace_back(item.type, item.length == 4 ? value : 0xFFFFFFFF);
                }
                DWORD opId = 0;
                if (record.InItems().size() == 2)
                    std::memcpy(&opId, record.InItems()[1].data, 4);
                r.remarksThen = Remarks(static_cast<LONG>(opId));
            }
            {
                std::lock_guard lock(mutex_);
                received_.push_back(r);
            }
            CInvokeData reply(record.functionCode);
            reply.result = hr;
            InvokeAnswer answer;
            answer.reply.resize(reply.GetEncodedSize(InvokeModeReply));
            reply.Encode(answer.reply.data(), static_cast<LONG>(answer.reply.size()), InvokeModeReply);
            return answer;
        });
    }

    std::vector<Received> Deliveries()
    {
        std::lock_guard lock(mutex_);
        return received_;
    }
    std::vector<std::string> Bindings()
    {
        std::lock_guard lock(mutex_);
        return bindings_;
    }

    InvokeListener peer;
    int port_ = peer.Port();

private:
    ClientTransportFactory previous_;
    std::mutex mutex_;
    std::vector<std::string> bindings_;
    std::vector<Received> received_;
};

} // namespace

TEST_F(RpcDeliveryTest, ComputerReceivesCode801WithAppIdThenOpId)
{
    const LONG opId = AddOp("PC1", 7, 3, "d", "", {1, 2}, 5);
    ASSERT_TRUE(peer.AwaitRequests(1));
    store->Delivery().Stop();

    EXPECT_EQ(Bindings(), std::vector<std::string>{"WINSERVER:127.0.0.1:34348"});
    const auto got = Deliveries();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].code, 801u);
    EXPECT_EQ(got[0].mode, 0u); // a request: in-items only
    const std::vector<std::pair<DWORD, DWORD>> items = {{0, 7}, {0, static_cast<DWORD>(opId)}};
    EXPECT_EQ(got[0].items, items);
    // Success writes nothing.
    const OpState row = State(opId);
    EXPECT_EQ(row.status, 1u);
    EXPECT_EQ(row.result, 0x1234);
    EXPECT_EQ(row.remarks, "");
}

TEST_F(RpcDeliveryTest, FailureAnsweredByTheComputerCountsDownTheRemarks)
{
    constexpr ULONGLONG kSpacing = 200'000; // 20 ms
    store->Delivery().SetRetrySpacing(kSpacing);
    const HRESULT refused = E_ACCESSDENIED;
    AnswerWith(refused);
    const LONG opId = AddOp("PC1", 2, 9, "", "", {}, 4);

    ASSERT_TRUE(peer.AwaitRequests(5));
    ASSERT_TRUE(EventuallyRemarks(opId, WaitingRemark(refused)));
    store->Delivery().Stop();

    const auto got = Deliveries();
    ASSERT_EQ(got.size(), 5u);
    // Each attempt found the remark of the failure before it.
    EXPECT_EQ(got[0].remarksThen, "");
    for (int i = 1; i < 5; ++i)
        EXPECT_EQ(got[i].remarksThen, RetryRemark(refused, 5 - i)) << i;
    const OpState row = State(opId);
    EXPECT_EQ(row.status, 1u);
    EXPECT_EQ(row.result, refused);
}

TEST_F(RpcDeliveryTest, ComputerAnsweringNotImplementedIsCalledOnce)
{
    CaptureWorkItems();
    AnswerWith(E_NOTIMPL);
    const LONG opId = AddOp("PC1", 2, 2, "", "keep me", {}, 1);
    ASSERT_EQ(captured.size(), 1u);
    RunCaptured();
    // No retry was queued and nothing written.
    EXPECT_EQ(captured.size(), 0u);
    EXPECT_EQ(peer.Requests().size(), 1u);
    const OpState row = State(opId);
    EXPECT_EQ(row.status, 1u);
    EXPECT_EQ(row.result, 0x1234);
    EXPECT_EQ(row.remarks, "keep me");
}

TEST_F(RpcDeliveryTest, HigherPriorityIsDeliveredFirst)
{
    CaptureWorkItems();
    const LONG five = AddOp("PC1", 1, 1, "", "", {}, 5);
    const LONG nine = AddOp("PC2", 1, 2, "", "", {}, 9);
    ASSERT_EQ(captured.size(), 2u);
    RunCaptured();
    const auto got = Deliveries();
    ASSERT_EQ(got.size(), 2u);
    ASSERT_EQ(got[0].items.size(), 2u);
    ASSERT_EQ(got[1].items.size(), 2u);
    EXPECT_EQ(got[0].items[1].second, static_cast<DWORD>(nine));
    EXPECT_EQ(got[1].items[1].second, static_cast<DWORD>(five));
}

TEST_F(RpcDeliveryTest, ComputerThatIsNotListeningFailsTheAttemptQuickly)
{
    CaptureWorkItems();
    store->Delivery().SetRetrySpacing(0);
    peer.Stop();
    const LONG opId = AddOp("PC1", 1, 1, "", "", {}, 2);
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(RunOneCaptured());
    EXPECT_LT(std::chrono::steady_clock::now() - start, 4s);
    EXPECT_EQ(Remarks(opId), RetryRemark(HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE), 4));
    EXPECT_EQ(captured.size(), 1u); // the retry
}

namespace {

std::atomic<bool> g_faulted{false};
std::thread::id g_faultThread;

TQ_FAULTS_ON_PURPOSE __attribute__((noinline)) void WriteAt(volatile int* p)
{
    *p = 1;
}

// A transport whose call faults, as a broken component would.
class FaultingTransport : public ClientTransport {
public:
    HRESULT Connect(const char*, DWORD) override { return S_OK; }
    HRESULT Call(const BYTE*, DWORD, BYTE**, DWORD*) override
    {
        g_faultThread = std::this_thread::get_id();
        g_faulted = true;
        WriteAt(nullptr);
        return S_OK;
    }
    HRESULT FreeReply(BYTE*) override { return S_OK; }
};

class DeliveryThreadTest : public liststest::StoreTest {
protected:
    void TearDown() override
    {
        store.reset();
        SetClientTransportFactory(previous_);
    }
    ClientTransportFactory previous_;
};

} // namespace

TEST_F(DeliveryThreadTest, FaultInAWorkItemIsAFailedAttemptNotACrash)
{
    TQ_SKIP_TRANSLATED_FAULT();
    // As the host's start-up does.
    CThreadPool::Default().SetThreadStartHook(InstallStructuredExceptionTranslator);
    previous_ = SetClientTransportFactory([](std::unique_ptr<ClientTransport>* out) {
        *out = std::make_unique<FaultingTransport>();
        return S_OK;
    });
    const LONG opId = AddOp("PC1", 1, 1, "", "", {}, 3);
    const auto end = std::chrono::steady_clock::now() + 20s;
    while (Remarks(opId).empty() && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(5ms);
    EXPECT_TRUE(g_faulted);
    EXPECT_NE(g_faultThread, std::this_thread::get_id()); // on a pool thread
    EXPECT_EQ(Remarks(opId), RetryRemark(E_UNEXPECTED, 4));
}
