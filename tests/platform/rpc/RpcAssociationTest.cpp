// The server side of the protocol, driven packet by packet.
#include "AssociationHarness.h"
#include "TestRpcServer.h"

#include "platform/rpc/NdrReader.h"

#include <gtest/gtest.h>

#include <chrono>
#include <stdexcept>
#include <thread>

using namespace rpctest;
using Next = CRpcAssociation::Next;

namespace {

rpc::PresentationContext Context(USHORT id, const GUID& uuid, USHORT major, USHORT minor,
                                 std::vector<rpc::SyntaxId> transfers)
{
    return {id, {uuid, major, minor}, std::move(transfers)};
}

rpc::BindAckPdu ParseAck(const Bytes& pdu, rpc::PduType expected = rpc::PduType::BindAck)
{
    rpc::PduHeader h = rpc::DecodeHeader(pdu.data());
    EXPECT_EQ(h.Type(), expected);
    rpc::BindAckPdu ack;
    EXPECT_TRUE(rpc::ParseBindAck(pdu, h, ack));
    return ack;
}

USHORT NakReason(const Bytes& pdu)
{
    rpc::PduHeader h = rpc::DecodeHeader(pdu.data());
    EXPECT_EQ(h.Type(), rpc::PduType::BindNak);
    rpc::BindNakPdu nak;
    EXPECT_TRUE(rpc::ParseBindNak(pdu, h, nak));
    return nak.reason;
}

rpc::FaultPdu ParseFaultPdu(const Bytes& pdu, BYTE* flags = nullptr)
{
    rpc::PduHeader h = rpc::DecodeHeader(pdu.data());
    EXPECT_EQ(h.Type(), rpc::PduType::Fault);
    if (flags != nullptr)
        *flags = h.flags;
    rpc::FaultPdu f;
    EXPECT_TRUE(rpc::ParseFault(pdu, h, f));
    return f;
}

const GUID kUnknown{0x12345678, 0x1234, 0x5678, {1, 2, 3, 4, 5, 6, 7, 8}};

} // namespace

TEST(RpcBindNegotiation, ContextsAreJudgedOneByOne)
{
    CAssociationHarness a;
    // As a 64-bit client binds: NDR 2.0, NDR64 and feature negotiation for
    // the same interface; then an unknown interface and a wrong version.
    ASSERT_EQ(a.Feed(BindBytes({Context(0, kInterface50, 5, 0, {rpc::kNdr20}),
                                Context(1, kInterface50, 5, 0, {rpc::kNdr64}),
                                Context(2, kInterface50, 5, 0, {rpc::FeatureNegotiationSyntax(3)}),
                                Context(3, kUnknown, 1, 0, {rpc::kNdr20}),
                                Context(4, kInterface50, 6, 0, {rpc::kNdr20}),
                                Context(5, kInterface50, 5, 3, {rpc::kNdr20}),
                                Context(6, kInterface50, 5, 1, {rpc::kNdr64, rpc::kNdr20}),
                                Context(7, kInterface50, 5, 0, {})})),
              Next::Continue);
    auto sent = a.Sent();
    ASSERT_EQ(sent.size(), 1u);
    rpc::BindAckPdu ack = ParseAck(sent[0]);
    ASSERT_EQ(ack.results.size(), 8u);
    EXPECT_EQ(ack.results[0].result, rpc::kResultAcceptance);
    EXPECT_EQ(ack.results[0].transfer, rpc::kNdr20);
    EXPECT_EQ(ack.results[1].result, rpc::kResultProviderRejection);
    EXPECT_EQ(ack.results[1].reason, rpc::kReasonTransferSyntaxesNotSupported);
    EXPECT_EQ(ack.results[1].transfer, rpc::SyntaxId{});
    EXPECT_EQ(ack.results[2].result, rpc::kResultNegotiateAck);
    EXPECT_EQ(ack.results[2].reason, rpc::kFeatureKeepConnectionOnOrphan);
    EXPECT_EQ(ack.results[3].reason, rpc::kReasonAbstractSyntaxNotSupported);
    EXPECT_EQ(ack.results[4].reason, rpc::kReasonAbstractSyntaxNotSupported);  // other major
    EXPECT_EQ(ack.results[5].reason, rpc::kReasonAbstractSyntaxNotSupported);  // newer minor than served
    EXPECT_EQ(ack.results[6].result, rpc::kResultAcceptance);                  // NDR 2.0 among others
    EXPECT_EQ(ack.results[6].transfer, rpc::kNdr20);
    EXPECT_EQ(ack.results[7].reason, rpc::kReasonTransferSyntaxesNotSupported);
    EXPECT_EQ(ack.secondaryAddress, "34347");
    EXPECT_NE(ack.assocGroup, 0u);
    EXPECT_EQ(a.Association().Features(), rpc::kFeatureKeepConnectionOnOrphan);
}

TEST(RpcBindNegotiation, FragmentSizesTakeTheSmallerOfBothSides)
{
    CAssociationHarness a;
    ASSERT_EQ(a.Feed(BindBytes({Context(0, kInterface50, 5, 0, {rpc::kNdr20})}, 1, rpc::PduType::Bind, 2000, 65000)),
              Next::Continue);
    rpc::BindAckPdu ack = ParseAck(a.Sent().at(0));
    EXPECT_EQ(ack.maxXmitFrag, 65000);  // server sends as large as the client takes
    EXPECT_EQ(ack.maxRecvFrag, 2000);   // and takes no more than the client sends
    EXPECT_EQ(a.Association().XmitFragment(), 65000);
    // Up to its own limit.
    RpcServerLimits small;
    small.maxXmitFragment = 5840;
    CAssociationHarness c(small);
    ASSERT_EQ(c.Feed(BindBytes({Context(0, kInterface50, 5, 0, {rpc::kNdr20})}, 1, rpc::PduType::Bind, 2000, 65000)),
              Next::Continue);
    EXPECT_EQ(ParseAck(c.Sent().at(0)).maxXmitFrag, 5840);

    // Below the size every peer must take, the bind is refused.
    CAssociationHarness b;
    EXPECT_EQ(b.Feed(BindBytes({Context(0, kInterface50, 5, 0, {rpc::kNdr20})}, 1, rpc::PduType::Bind, 5840, 1000)),
              Next::Continue);
    EXPECT_EQ(NakReason(b.Sent().at(0)), rpc::kNakReasonNotSpecified);
    EXPECT_FALSE(b.Association().IsBound());
}

TEST(RpcBindNegotiation, AssociationGroupIsKeptOrMadeUp)
{
    CAssociationHarness a;
    rpc::BindPdu bind;
    bind.maxXmitFrag = bind.maxRecvFrag = 5840;
    bind.assocGroup = 0x1234;
    bind.contexts = {Context(0, kInterface50, 5, 0, {rpc::kNdr20})};
    CRpcBuffer out;
    rpc::EncodeBind(out, Header(rpc::PduType::Bind, 1), bind);
    ASSERT_EQ(a.Feed(Bytes(out.Data(), out.Data() + out.Size())), Next::Continue);
    EXPECT_EQ(ParseAck(a.Sent().at(0)).assocGroup, 0x1234u);
}

TEST(RpcBindNegotiation, AuthVerifierIsRefusedAndConnectionMayBindAgain)
{
    CAssociationHarness a;
    Bytes bind = SimpleBind(kInterface50, 5, 0);
    AddAuthVerifier(bind);
    EXPECT_EQ(a.Feed(bind), Next::Continue);
    auto sent = a.Sent();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(NakReason(sent[0]), rpc::kNakAuthenticationTypeNotRecognized);
    EXPECT_EQ(rpc::DecodeHeader(sent[0].data()).callId, 1u);
    EXPECT_FALSE(a.Association().IsBound());
    // Unbound, a request is a protocol error.
    EXPECT_EQ(a.Feed(RequestBytes(2, 0, 0, {})), Next::Close);

    CAssociationHarness b;
    EXPECT_EQ(b.Feed(bind), Next::Continue);
    b.Sent();
    EXPECT_EQ(b.Feed(SimpleBind(kInterface50, 5, 0, 2)), Next::Continue);
    EXPECT_EQ(ParseAck(b.Sent().at(0)).results.at(0).result, rpc::kResultAcceptance);
    // Requests with a verifier have no security context to belong to.
    Bytes request = RequestBytes(3, 0, 0, {});
    AddAuthVerifier(request);
    EXPECT_EQ(b.Feed(request), Next::Close);
}

TEST(RpcBindNegotiation, RepeatedRejectedBindsCloseTheConnection)
{
    RpcServerLimits limits;
    limits.maxRejectedBinds = 3;
    CAssociationHarness a(limits);
    Bytes bind = SimpleBind(kInterface50, 5, 0);
    AddAuthVerifier(bind);
    EXPECT_EQ(a.Feed(bind), Next::Continue);
    EXPECT_EQ(a.Feed(bind), Next::Continue);
    EXPECT_EQ(a.Feed(bind), Next::Close);
    EXPECT_EQ(a.Sent().size(), 3u);
}

TEST(RpcBindNegotiation, OtherProtocolVersionIsToldWhatIsSpoken)
{
    CAssociationHarness a;
    Bytes bind = SimpleBind(kInterface50, 5, 0, 9);
    bind[0] = 4;
    EXPECT_EQ(a.Feed(bind), Next::Close);
    auto sent = a.Sent();
    ASSERT_EQ(sent.size(), 1u);
    rpc::PduHeader h = rpc::DecodeHeader(sent[0].data());
    rpc::BindNakPdu nak;
    ASSERT_TRUE(rpc::ParseBindNak(sent[0], h, nak));
    EXPECT_EQ(nak.reason, rpc::kNakProtocolVersionNotSupported);
    ASSERT_EQ(nak.versions.size(), 1u);
    EXPECT_EQ(nak.versions[0], (std::pair<BYTE, BYTE>(5, 0)));
    EXPECT_EQ(h.callId, 9u);
    // Minor versions 0 and 1 are both taken.
    CAssociationHarness b;
    bind = SimpleBind(kInterface50, 5, 0);
    bind[1] = 1;
    EXPECT_EQ(b.Feed(bind), Next::Continue);
    EXPECT_EQ(rpc::DecodeHeader(b.Sent().at(0).data()).versionMinor, 1);
}

TEST(RpcBindNegotiation, ContextTableIsBounded)
{
    RpcServerLimits limits;
    limits.maxContextsPerConnection = 2;
    CAssociationHarness a(limits);
    ASSERT_EQ(a.Feed(BindBytes({Context(0, kInterface50, 5, 0, {rpc::kNdr20}), Context(1, kInterface50, 5, 0, {rpc::kNdr20}),
                                Context(2, kInterface50, 5, 0, {rpc::kNdr20}), Context(0, kInterface50, 5, 1, {rpc::kNdr20})})),
              Next::Continue);
    rpc::BindAckPdu ack = ParseAck(a.Sent().at(0));
    EXPECT_EQ(ack.results[0].result, rpc::kResultAcceptance);
    EXPECT_EQ(ack.results[1].result, rpc::kResultAcceptance);
    EXPECT_EQ(ack.results[2].reason, rpc::kReasonLocalLimitExceeded);
    // A context id already held may be negotiated again.
    EXPECT_EQ(ack.results[3].result, rpc::kResultAcceptance);
}

TEST(RpcBindNegotiation, AlterContextNeedsABindAndAnswersWithoutAddress)
{
    CAssociationHarness a;
    EXPECT_EQ(a.Feed(BindBytes({Context(1, kInterface50, 5, 0, {rpc::kNdr20})}, 1, rpc::PduType::AlterContext)),
              Next::Close);
    EXPECT_TRUE(a.Sent().empty());

    CAssociationHarness b;
    b.BindProduct();
    ASSERT_EQ(b.Feed(BindBytes({Context(1, kInterface50, 5, 0, {rpc::kNdr20})}, 2, rpc::PduType::AlterContext)),
              Next::Continue);
    rpc::BindAckPdu ack = ParseAck(b.Sent().at(0), rpc::PduType::AlterContextResp);
    EXPECT_EQ(ack.secondaryAddress, "");
    EXPECT_EQ(ack.results.at(0).result, rpc::kResultAcceptance);
    // With a verifier it fails as a call, and the connection goes on.
    Bytes alter = BindBytes({Context(2, kInterface50, 5, 0, {rpc::kNdr20})}, 3, rpc::PduType::AlterContext);
    AddAuthVerifier(alter);
    EXPECT_EQ(b.Feed(alter), Next::Continue);
    EXPECT_EQ(ParseFaultPdu(b.Sent().at(0)).status, ULONG(RPC_S_UNKNOWN_AUTHN_SERVICE));
    EXPECT_EQ(b.Feed(RequestBytes(4, 1, 0, {})), Next::Continue);
    EXPECT_EQ(rpc::DecodeHeader(b.Sent().at(0).data()).Type(), rpc::PduType::Response);
}

TEST(RpcBindNegotiation, BigEndianBindIsRead)
{
    CAssociationHarness a;
    rpc::DataRep be = rpc::DataRep::BigEndianRep();
    ASSERT_EQ(a.Feed(BindBytes({Context(0, kInterface50, 5, 0, {rpc::kNdr20})}, 0x01020304, rpc::PduType::Bind, 4280,
                               4280, be)),
              Next::Continue);
    Bytes reply = a.Sent().at(0);
    rpc::PduHeader h = rpc::DecodeHeader(reply.data());
    EXPECT_EQ(h.callId, 0x01020304u);
    EXPECT_FALSE(h.rep.BigEndian());  // answers in its own representation
    rpc::BindAckPdu ack = ParseAck(reply);
    EXPECT_EQ(ack.results.at(0).result, rpc::kResultAcceptance);
    EXPECT_EQ(ack.maxRecvFrag, 4280);
}

TEST(RpcRequests, FragmentsAreReassembledAndRepliesFragmented)
{
    CAssociationHarness a;
    a.BindProduct();
    Bytes stub(20000);
    for (size_t i = 0; i < stub.size(); ++i)
        stub[i] = BYTE(i % 253);
    // In odd-sized pieces, as some clients cut them.
    const size_t piece = 4001;
    for (size_t at = 0; at < stub.size(); at += piece) {
        Bytes part(stub.begin() + long(at), stub.begin() + long(std::min(stub.size(), at + piece)));
        BYTE flags = BYTE((at == 0 ? rpc::PFC_FIRST_FRAG : 0) | (at + piece >= stub.size() ? rpc::PFC_LAST_FRAG : 0));
        EXPECT_EQ(a.Feed(RequestBytes(7, 0, 1, part, flags, ULONG(stub.size()))), Next::Continue);
        EXPECT_EQ(a.Association().HasPendingCalls(), (flags & rpc::PFC_LAST_FRAG) == 0);
    }
    auto sent = a.Sent();
    ASSERT_EQ(sent.size(), 4u);  // 20000 bytes in fragments of 5816
    Bytes back;
    for (size_t i = 0; i < sent.size(); ++i) {
        rpc::PduHeader h = rpc::DecodeHeader(sent[i].data());
        rpc::ResponsePdu r;
        ASSERT_TRUE(rpc::ParseResponse(sent[i], h, r));
        EXPECT_EQ(h.callId, 7u);
        EXPECT_LE(h.fragLength, 5840);
        EXPECT_EQ((h.flags & rpc::PFC_FIRST_FRAG) != 0, i == 0);
        EXPECT_EQ((h.flags & rpc::PFC_LAST_FRAG) != 0, i + 1 == sent.size());
        EXPECT_EQ(r.allocHint, stub.size() - back.size());
        EXPECT_TRUE(i + 1 == sent.size() || r.stub.size() % 8 == 0);
        back.insert(back.end(), r.stub.begin(), r.stub.end());
    }
    EXPECT_EQ(back, stub);
}

TEST(RpcRequests, InterleavedCallsAreKeptApart)
{
    CAssociationHarness a;
    a.BindProduct();
    EXPECT_EQ(a.Feed(RequestBytes(1, 0, 1, {1, 1}, rpc::PFC_FIRST_FRAG)), Next::Continue);
    EXPECT_EQ(a.Feed(RequestBytes(2, 0, 1, {2, 2}, rpc::PFC_FIRST_FRAG)), Next::Continue);
    EXPECT_EQ(a.Feed(RequestBytes(1, 0, 1, {1}, rpc::PFC_LAST_FRAG)), Next::Continue);
    EXPECT_EQ(a.Feed(RequestBytes(2, 0, 1, {2}, rpc::PFC_LAST_FRAG)), Next::Continue);
    auto sent = a.Sent();
    ASSERT_EQ(sent.size(), 2u);
    for (ULONG id : {1u, 2u}) {
        rpc::PduHeader h = rpc::DecodeHeader(sent[id - 1].data());
        rpc::ResponsePdu r;
        ASSERT_TRUE(rpc::ParseResponse(sent[id - 1], h, r));
        EXPECT_EQ(h.callId, id);
        EXPECT_EQ(Bytes(r.stub.begin(), r.stub.end()), Bytes(3, BYTE(id)));
    }
}

TEST(RpcRequests, OrphanedAndCancelledCallsAreHarmless)
{
    CAssociationHarness a;
    a.BindProduct();
    EXPECT_EQ(a.Feed(RequestBytes(5, 0, 1, {1, 2, 3}, rpc::PFC_FIRST_FRAG)), Next::Continue);
    EXPECT_EQ(a.Feed(HeaderOnly(rpc::PduType::CoCancel, 5)), Next::Continue);
    EXPECT_EQ(a.Feed(HeaderOnly(rpc::PduType::Orphaned, 5)), Next::Continue);
    EXPECT_FALSE(a.Association().HasPendingCalls());
    // Late fragments of the orphaned call are dropped.
    EXPECT_EQ(a.Feed(RequestBytes(5, 0, 1, {4}, rpc::PFC_LAST_FRAG)), Next::Continue);
    EXPECT_TRUE(a.Sent().empty());
    // The call id is free again.
    EXPECT_EQ(a.Feed(RequestBytes(5, 0, 0, {})), Next::Continue);
    EXPECT_EQ(a.Sent().size(), 1u);
}

TEST(RpcRequests, ProtocolViolationsCloseTheConnection)
{
    RpcServerLimits limits;
    limits.maxPendingCallsPerConnection = 2;
    limits.maxRequestBytes = 10000;
    {
        CAssociationHarness a(limits);
        a.BindProduct();
        EXPECT_EQ(a.Feed(RequestBytes(1, 0, 1, {1}, rpc::PFC_FIRST_FRAG)), Next::Continue);
        EXPECT_EQ(a.Feed(RequestBytes(1, 0, 1, {1}, rpc::PFC_FIRST_FRAG)), Next::Close);  // call id in use
    }
    {
        CAssociationHarness a(limits);
        a.BindProduct();
        EXPECT_EQ(a.Feed(RequestBytes(1, 0, 1, {1}, rpc::PFC_FIRST_FRAG)), Next::Continue);
        EXPECT_EQ(a.Feed(RequestBytes(2, 0, 1, {1}, rpc::PFC_FIRST_FRAG)), Next::Continue);
        EXPECT_EQ(a.Feed(RequestBytes(3, 0, 1, {1}, rpc::PFC_FIRST_FRAG)), Next::Close);  // too many at once
    }
    {
        CAssociationHarness a(limits);
        a.BindProduct();
        Bytes part(4000, 1);
        EXPECT_EQ(a.Feed(RequestBytes(1, 0, 1, part, rpc::PFC_FIRST_FRAG, 1u << 30)), Next::Continue);
        EXPECT_EQ(a.Feed(RequestBytes(1, 0, 1, part, 0)), Next::Continue);
        EXPECT_EQ(a.Feed(RequestBytes(1, 0, 1, part, rpc::PFC_LAST_FRAG)), Next::Close);  // over the total
        EXPECT_TRUE(a.Sent().empty());
    }
    for (rpc::PduType type : {rpc::PduType::Response, rpc::PduType::Fault, rpc::PduType::BindAck,
                              rpc::PduType::Shutdown, rpc::PduType::Auth3, rpc::PduType(1), rpc::PduType(200)}) {
        CAssociationHarness a;
        a.BindProduct();
        EXPECT_EQ(a.Feed(HeaderOnly(type, 3)), Next::Close) << int(type);
    }
    {
        // A fragment shorter than its request header.
        CAssociationHarness a;
        a.BindProduct();
        Bytes shortRequest = HeaderOnly(rpc::PduType::Request, 4);
        EXPECT_EQ(a.Feed(shortRequest), Next::Close);
    }
}

TEST(RpcRequests, CallsThatCannotRunGetFaultsMarkedNotExecuted)
{
    CAssociationHarness a;
    a.BindProduct();
    EXPECT_EQ(a.Feed(RequestBytes(1, 0, 9, {})), Next::Continue);   // no such opnum
    EXPECT_EQ(a.Feed(RequestBytes(2, 42, 0, {})), Next::Continue);  // no such context
    auto sent = a.Sent();
    ASSERT_EQ(sent.size(), 2u);
    BYTE flags = 0;
    EXPECT_EQ(ParseFaultPdu(sent[0], &flags).status, rpc::nca_s_op_rng_error);
    EXPECT_NE(flags & rpc::PFC_DID_NOT_EXECUTE, 0);
    rpc::FaultPdu f = ParseFaultPdu(sent[1], &flags);
    EXPECT_EQ(f.status, rpc::nca_s_unk_if);
    EXPECT_EQ(f.contextId, 42);
    EXPECT_NE(flags & rpc::PFC_DID_NOT_EXECUTE, 0);
    EXPECT_EQ(sent[0].size(), rpc::kFaultPduSize);

    // A withdrawn interface no longer takes calls on contexts bound to it.
    EXPECT_EQ(a.Registry().Unregister(kInterface50, 5, 2, true), RPC_S_OK);
    EXPECT_EQ(a.Feed(RequestBytes(3, 0, 0, {})), Next::Continue);
    EXPECT_EQ(ParseFaultPdu(a.Sent().at(0)).status, rpc::nca_s_unk_if);
}

TEST(RpcRequests, ObjectUuidIsSkippedBeforeStubData)
{
    CAssociationHarness a;
    a.BindProduct();
    Bytes pdu = RequestBytes(1, 0, 1, Bytes(16 + 3, 0));
    pdu[3] |= rpc::PFC_OBJECT_UUID;
    pdu[rpc::kRequestHeaderSize + 16] = 0xAB;
    pdu[rpc::kRequestHeaderSize + 17] = 0xCD;
    pdu[rpc::kRequestHeaderSize + 18] = 0xEF;
    EXPECT_EQ(a.Feed(pdu), Next::Continue);
    Bytes reply = a.Sent().at(0);
    rpc::ResponsePdu r;
    ASSERT_TRUE(rpc::ParseResponse(reply, rpc::DecodeHeader(reply.data()), r));
    EXPECT_EQ(Bytes(r.stub.begin(), r.stub.end()), (Bytes{0xAB, 0xCD, 0xEF}));
}

TEST(RpcRequests, MaybeCallsRunWithoutAReply)
{
    CAssociationHarness a;
    int runs = 0;
    ASSERT_EQ(a.Registry().Register({kControl, 1, 0, {[&](CRpcCall&) {
                                         ++runs;
                                         return RPC_S_OK;
                                     }}}),
              RPC_S_OK);
    ASSERT_EQ(a.Feed(BindBytes({{0, {kControl, 1, 0}, {rpc::kNdr20}}})), Next::Continue);
    a.Sent();
    EXPECT_EQ(a.Feed(RequestBytes(1, 0, 0, {}, rpc::PFC_FIRST_FRAG | rpc::PFC_LAST_FRAG | rpc::PFC_MAYBE)),
              Next::Continue);
    EXPECT_EQ(a.Feed(RequestBytes(2, 0, 5, {}, rpc::PFC_FIRST_FRAG | rpc::PFC_LAST_FRAG | rpc::PFC_MAYBE)),
              Next::Continue);
    EXPECT_EQ(runs, 1);
    EXPECT_TRUE(a.Sent().empty());
}

TEST(RpcRequests, CallLimitAndThrowingStubsBecomeFaults)
{
    CAssociationHarness a;
    RpcInterfaceDefinition thrower{kControl, 1, 0, {[](CRpcCall&) -> RPC_STATUS { throw 42; }}};
    ASSERT_EQ(a.Registry().Register(thrower), RPC_S_OK);
    ASSERT_EQ(a.Feed(BindBytes({{0, {kControl, 1, 0}, {rpc::kNdr20}}})), Next::Continue);
    a.Sent();
    EXPECT_EQ(a.Feed(RequestBytes(1, 0, 0, {})), Next::Continue);
    EXPECT_EQ(ParseFaultPdu(a.Sent().at(0)).status, rpc::nca_s_fault_unspec);
    a.Gate().SetMaxCalls(0);
    EXPECT_EQ(a.Feed(RequestBytes(2, 0, 0, {})), Next::Continue);
    BYTE flags = 0;
    EXPECT_EQ(ParseFaultPdu(a.Sent().at(0), &flags).status, rpc::nca_s_server_too_busy);
    EXPECT_NE(flags & rpc::PFC_DID_NOT_EXECUTE, 0);
}

TEST(RpcRequests, FailedSendClosesTheConnection)
{
    CAssociationHarness a;
    a.FailSends();
    EXPECT_EQ(a.Feed(SimpleBind(kInterface50, 5, 0)), Next::Close);
}

TEST(RpcRequests, LargeRepliesGoOutInFragmentsAsLargeAsTheClientTakes)
{
    CAssociationHarness a;
    ASSERT_EQ(a.Feed(BindBytes({Context(0, kInterface50, 5, 0, {rpc::kNdr20})}, 1, rpc::PduType::Bind, 5840, 65000)),
              Next::Continue);
    a.Sent();
    Bytes stub(150000, 0x3C);
    const size_t piece = 5816;
    for (size_t at = 0; at < stub.size(); at += piece) {
        Bytes part(stub.begin() + long(at), stub.begin() + long(std::min(stub.size(), at + piece)));
        BYTE flags = BYTE((at == 0 ? rpc::PFC_FIRST_FRAG : 0) | (at + piece >= stub.size() ? rpc::PFC_LAST_FRAG : 0));
        ASSERT_EQ(a.Feed(RequestBytes(9, 0, 1, part, flags, ULONG(stub.size()))), Next::Continue);
    }
    auto sent = a.Sent();
    // Bodies of (65000 - 24) rounded down to 8: 64976, 64976 and the rest.
    ASSERT_EQ(sent.size(), 3u);
    size_t total = 0;
    for (size_t i = 0; i < sent.size(); ++i) {
        rpc::PduHeader h = rpc::DecodeHeader(sent[i].data());
        rpc::ResponsePdu r;
        ASSERT_TRUE(rpc::ParseResponse(sent[i], h, r));
        EXPECT_LE(h.fragLength, 65000);
        EXPECT_EQ(r.stub.size(), i + 1 < sent.size() ? 64976u : 150000u - 2 * 64976u);
        total += r.stub.size();
    }
    EXPECT_EQ(total, stub.size());
}

TEST(RpcRequests, SplicedReplyBytesAreSentFromTheirBlockAndFreedAfterwards)
{
    CAssociationHarness a;
    ASSERT_EQ(a.Feed(BindBytes({Context(0, kInterface50, 5, 0, {rpc::kNdr20})}, 1, rpc::PduType::Bind, 5840, 20000)),
              Next::Continue);
    a.Sent();
    Bytes stub(5000);
    for (size_t i = 0; i < stub.size(); ++i)
        stub[i] = BYTE(i % 241);
    for (ULONG callId = 2; callId < 5; ++callId) {
        ASSERT_EQ(a.Feed(RequestBytes(callId, 0, 2, stub)), Next::Continue);
        Bytes back;
        for (const Bytes& pdu : a.Sent()) {
            rpc::PduHeader h = rpc::DecodeHeader(pdu.data());
            rpc::ResponsePdu r;
            ASSERT_TRUE(rpc::ParseResponse(pdu, h, r));
            EXPECT_EQ(h.callId, callId);
            back.insert(back.end(), r.stub.begin(), r.stub.end());
        }
        EXPECT_EQ(back, stub);
    }

    // A call that fails after splicing, or whose splice no longer lies in
    // its reply, is a fault; the next call is answered as usual.
    for (USHORT opnum : {USHORT(3), USHORT(4)}) {
        ASSERT_EQ(a.Feed(RequestBytes(10 + opnum, 0, opnum, stub)), Next::Continue);
        auto sent = a.Sent();
        ASSERT_EQ(sent.size(), 1u);
        EXPECT_EQ(rpc::DecodeHeader(sent[0].data()).Type(), rpc::PduType::Fault) << opnum;
    }
    ASSERT_EQ(a.Feed(RequestBytes(20, 0, 1, Bytes(16, 3))), Next::Continue);
    auto sent = a.Sent();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(rpc::DecodeHeader(sent[0].data()).Type(), rpc::PduType::Response);
    EXPECT_EQ(sent[0].size(), rpc::kResponseHeaderSize + 16);
}

// A reply whose bytes a source gives as they are sent: all of it arrives,
// the source is let go after each call, and one that runs short (a file cut
// meanwhile) ends the connection after a true part of the reply, never
// with bytes nobody read.
TEST(RpcRequests, SourcedReplyBytesAreReadAsSentAndAShortSourceClosesTheConnection)
{
    auto sizeStub = [](size_t size) {
        return Bytes{BYTE(size), BYTE(size >> 8), BYTE(size >> 16), BYTE(size >> 24)};
    };
    auto received = [](const std::vector<Bytes>& pdus, bool* last) {
        Bytes back;
        *last = false;
        for (const Bytes& pdu : pdus) {
            rpc::PduHeader h = rpc::DecodeHeader(pdu.data());
            rpc::ResponsePdu r;
            EXPECT_TRUE(rpc::ParseResponse(pdu, h, r));
            *last = (h.flags & rpc::PFC_LAST_FRAG) != 0;
            back.insert(back.end(), r.stub.begin(), r.stub.end());
        }
        return back;
    };
    auto expected = [](size_t size) {
        Bytes bytes(size);
        for (size_t i = 0; i < size; ++i)
            bytes[i] = CAssociationHarness::SourcedByte(i);
        return bytes;
    };
    CAssociationHarness a;
    ASSERT_EQ(a.Feed(BindBytes({Context(0, kInterface50, 5, 0, {rpc::kNdr20})}, 1, rpc::PduType::Bind, 5840, 20000)),
              Next::Continue);
    a.Sent();
    bool last = false;
    ULONG callId = 2;
    for (size_t size : {size_t(1), size_t(3) << 20}) {
        ASSERT_EQ(a.Feed(RequestBytes(callId++, 0, 5, sizeStub(size))), Next::Continue);
        EXPECT_EQ(received(a.Sent(), &last), expected(size)) << size;
        EXPECT_TRUE(last);
    }
    EXPECT_EQ(a.sourcesReleased, 2);

    a.sourceLimit = 1 << 20;
    EXPECT_EQ(a.Feed(RequestBytes(callId++, 0, 5, sizeStub(3 << 20))), Next::Close);
    const Bytes part = received(a.Sent(), &last);
    EXPECT_FALSE(last);
    EXPECT_LE(part.size(), a.sourceLimit);
    EXPECT_EQ(part, expected(part.size()));
    EXPECT_EQ(a.sourcesReleased, 3);

    // A peer gone while the reply is sent: the source is let go all the same.
    CAssociationHarness gone;
    gone.BindProduct();
    gone.FailSends();
    EXPECT_EQ(gone.Feed(RequestBytes(2, 0, 5, sizeStub(2 << 20))), Next::Close);
    EXPECT_EQ(gone.sourcesReleased, 1);
}

TEST(RpcRequests, LargeRequestsChargeTheBudgetUntilTheirBufferGoes)
{
    CRpcRequestBudget budget(1u << 20, 1u << 20);
    {
        CAssociationHarness a({}, &budget);
        a.BindProduct();
        Bytes part(4000, 1);
        EXPECT_EQ(a.Feed(RequestBytes(1, 0, 1, part, rpc::PFC_FIRST_FRAG, 100000)), Next::Continue);
        // The hint is charged before anything is copied.
        EXPECT_EQ(budget.InUse("127.0.0.1"), 100000u);
        EXPECT_EQ(a.Feed(RequestBytes(1, 0, 1, part, rpc::PFC_LAST_FRAG)), Next::Continue);
        EXPECT_EQ(a.Sent().size(), 2u); // the echo, in two fragments
        // The finished request's buffer is kept for the next one, and its charge with it.
        EXPECT_EQ(budget.InUse(), 100000u);
        // Small calls after it keep it while nobody waits for room...
        EXPECT_EQ(a.Feed(RequestBytes(2, 0, 0, {})), Next::Continue);
        EXPECT_EQ(budget.InUse(), 100000u);
        // ...and give it back to a connection that does.
        std::thread waiter([&] {
            if (budget.Take("10.0.0.8", (1u << 20) - 50000, 5000))
                budget.Give("10.0.0.8", (1u << 20) - 50000);
        });
        while (!budget.Wanted())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        EXPECT_EQ(a.Feed(RequestBytes(4, 0, 0, {})), Next::Continue);
        waiter.join();
        EXPECT_EQ(budget.InUse(), 0u);
        EXPECT_FALSE(budget.Wanted());

        // A request beyond what is left waits, then loses the connection.
        auto other = budget.Take("10.0.0.9", (1u << 20) - 1000, 0);
        ASSERT_TRUE(other);
        RpcServerLimits quick;
        quick.pduTimeoutMs = 50;
        CAssociationHarness b(quick, &budget);
        b.BindProduct();
        EXPECT_EQ(b.Feed(RequestBytes(1, 0, 1, part, rpc::PFC_FIRST_FRAG, 100000)), Next::Close);
        EXPECT_EQ(budget.InUse("127.0.0.1"), 0u);
        budget.Give("10.0.0.9", (1u << 20) - 1000);

        // An unfinished request's charge goes with its connection.
        EXPECT_EQ(a.Feed(RequestBytes(3, 0, 1, part, rpc::PFC_FIRST_FRAG, 100000)), Next::Continue);
        EXPECT_EQ(budget.InUse(), 100000u);
    }
    EXPECT_EQ(budget.InUse(), 0u);
}
