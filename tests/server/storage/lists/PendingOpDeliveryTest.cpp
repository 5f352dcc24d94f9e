#include "tests/server/storage/lists/FakeClientTransport.h"
#include "tests/server/storage/lists/DeliveryTestFixture.h"

#include <chrono>
#include <thread>
#include <utility>

using liststest::FakePeer;
using liststest::RetryRemark;
using liststest::WaitingRemark;
using liststest::ScopedFakeTransport;
using namespace std::chrono_literals;

namespace {

constexpr HRESULT kUnreachable = static_cast<HRESULT>(0x800706BAu);

class DeliveryTest : public liststest::DeliveryTestBase {
protected:
    void TearDown() override
    {
        // Work items still running use the peer: end them first.
        RunCaptured();
        store.reset();
    }

    FakePeer peer;
    ScopedFakeTransport transport{peer};
};

} // namespace

TEST_F(DeliveryTest, UnreachablePeerGetsFiveAttemptsThenTheOperationWaits)
{
    constexpr ULONGLONG kSpacing = 300'000; // 30 ms
    store->Delivery().SetRetrySpacing(kSpacing);
    peer.answer.callResult = kUnreachable;
    peer.observer = [this](const liststest::TransportCall& call) { return Remarks(static_cast<LONG>(call.opId)); };
    const LONG opId = AddOp("PC1", 7, 3, "d", "", {1, 2}, 5);

    ASSERT_TRUE(peer.AwaitCalls(5));
    ASSERT_TRUE(EventuallyRemarks(opId, WaitingRemark(kUnreachable)));
    store->Delivery().Stop();

    const auto calls = peer.Calls();
    ASSERT_EQ(calls.size(), 5u);
    // What each attempt found in the row: the remark of the failure before it.
    EXPECT_EQ(calls[0].note, "");
    for (int i = 1; i < 5; ++i) {
        EXPECT_EQ(calls[i].note, RetryRemark(kUnreachable, 5 - i));
        EXPECT_GE(calls[i].at - calls[i - 1].at, std::chrono::milliseconds(kSpacing / 10'000));
    }
    for (const auto& call : calls) {
        EXPECT_EQ(call.binding, "WINSERVER:PC1:34348");
        EXPECT_EQ(call.code, 801u);
        EXPECT_EQ(call.appId, 7u);
        EXPECT_EQ(call.opId, static_cast<DWORD>(opId));
    }
    const OpState state = State(opId);
    EXPECT_EQ(state.status, 1u);
    EXPECT_EQ(state.result, kUnreachable);
}

TEST_F(DeliveryTest, PeerThatDoesNotRunOperationsAtOnceIsCalledOnce)
{
    peer.answer.replyResult = E_NOTIMPL;
    const LONG opId = AddOp("PC1", 2, 2, "", "keep me", {}, 1);
    ASSERT_TRUE(peer.AwaitCalls(1));
    store->Delivery().Stop();
    EXPECT_EQ(peer.Calls().size(), 1u);
    EXPECT_EQ(peer.Freed(), 1);
    const OpState state = State(opId);
    EXPECT_EQ(state.status, 1u);
    EXPECT_EQ(state.result, 0x1234);
    EXPECT_EQ(state.remarks, "keep me");
}

TEST_F(DeliveryTest, HigherPriorityIsDeliveredFirstAndZeroIsNotQueued)
{
    CaptureWorkItems();
    AddOp("PC1", 1, 1, "", "", {}, 0);
    EXPECT_TRUE(captured.empty());
    const LONG five = AddOp("PC1", 1, 2, "", "", {}, 5);
    const LONG nine = AddOp("PC2", 1, 3, "", "", {}, 9);
    const LONG one = AddOp("PC3", 1, 4, "", "", {}, 1);
    ASSERT_EQ(captured.size(), 3u);
    RunCaptured();
    const auto calls = peer.Calls();
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[0].opId, static_cast<DWORD>(nine));
    EXPECT_EQ(calls[1].opId, static_cast<DWORD>(five));
    EXPECT_EQ(calls[2].opId, static_cast<DWORD>(one));
    // Success writes nothing: the client reports progress itself.
    EXPECT_EQ(Remarks(nine), "");
    EXPECT_EQ(peer.Freed(), 3);
}

TEST_F(DeliveryTest, ComputerIsCalledAtItsStoredAddress)
{
    CaptureWorkItems();
    const char plain[] = "10.1.2.3";
    const char several[] = "10.0.0.1,10.0.0.2";
    ASSERT_EQ(store->SetComputerInformation("PC1", 4, 4, reinterpret_cast<const BYTE*>(plain), sizeof plain), S_OK);
    ASSERT_EQ(store->SetComputerInformation("PC2", 4, 4, reinterpret_cast<const BYTE*>(several), sizeof several),
              S_OK);
    AddOp("PC1", 1, 1, "", "", {}, 3);
    RunCaptured();
    AddOp("PC2", 1, 1, "", "", {}, 3);
    RunCaptured();
    AddOp("PC3", 1, 1, "", "", {}, 3); // no address item
    RunCaptured();
    const auto calls = peer.Calls();
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[0].binding, "WINSERVER:10.1.2.3:34348");
    EXPECT_EQ(calls[1].binding, "WINSERVER:PC2:34348");
    EXPECT_EQ(calls[2].binding, "WINSERVER:PC3:34348");
}

TEST_F(DeliveryTest, TransportThatCannotBeMadeIsAFailedAttempt)
{
    CaptureWorkItems();
    store->Delivery().SetRetrySpacing(0);
    peer.createResult = REGDB_E_CLASSNOTREG;
    const LONG opId = AddOp("PC1", 1, 1, "", "", {}, 2);
    ASSERT_TRUE(RunOneCaptured());
    EXPECT_EQ(Remarks(opId), RetryRemark(REGDB_E_CLASSNOTREG, 4));
    // The retry is queued again.
    ASSERT_EQ(captured.size(), 1u);
    RunCaptured();
    EXPECT_EQ(peer.Created(), 5);
    EXPECT_EQ(Remarks(opId), WaitingRemark(REGDB_E_CLASSNOTREG));
    EXPECT_EQ(State(opId).result, REGDB_E_CLASSNOTREG);
}

TEST_F(DeliveryTest, ReplyThatDoesNotDecodeIsAFailedAttempt)
{
    CaptureWorkItems();
    peer.answer.garbledReply = true;
    const LONG opId = AddOp("PC1", 1, 1, "", "", {}, 2);
    ASSERT_TRUE(RunOneCaptured());
    EXPECT_EQ(Remarks(opId), RetryRemark(E_FAIL, 4));
    EXPECT_EQ(peer.Freed(), 1);
    store->Delivery().SetRetrySpacing(0);
}

TEST_F(DeliveryTest, ClosingTheStoreDoesNotWaitOutARetry)
{
    // Production spacing: the retry would sleep 30 s.
    peer.answer.callResult = kUnreachable;
    const LONG opId = AddOp("PC1", 1, 1, "", "", {}, 2);
    ASSERT_TRUE(peer.AwaitCalls(1));
    ASSERT_TRUE(EventuallyRemarks(opId, RetryRemark(kUnreachable, 4)));
    const auto start = std::chrono::steady_clock::now();
    store.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
    EXPECT_EQ(peer.Calls().size(), 1u);
}
