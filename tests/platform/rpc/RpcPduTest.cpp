// Packet layouts and the parsers' bounds.
#include "PduBuilder.h"

#include "platform/rpc/NdrByteOrder.h"

#include <gtest/gtest.h>

using namespace rpctest;

TEST(RpcPduHeader, EncodesAndChecksTheCommonHeader)
{
    BYTE raw[16];
    rpc::PduHeader h = Header(rpc::PduType::Request, 0x0A0B0C0D, rpc::PFC_FIRST_FRAG, rpc::DataRep::BigEndianRep());
    h.fragLength = 0x0102;
    h.authLength = 0;
    rpc::EncodeHeader(raw, h);
    EXPECT_EQ(raw[0], 5);
    EXPECT_EQ(raw[2], 0);
    EXPECT_EQ(raw[4], 0x00);  // big-endian label
    EXPECT_EQ(raw[8], 0x01);
    EXPECT_EQ(raw[12], 0x0A);
    rpc::PduHeader back = rpc::DecodeHeader(raw);
    EXPECT_EQ(back.fragLength, 0x0102);
    EXPECT_EQ(back.callId, 0x0A0B0C0Du);
    EXPECT_EQ(rpc::CheckHeader(back, 5840), rpc::HeaderCheck::Ok);
    EXPECT_EQ(rpc::CheckHeader(back, 0x100), rpc::HeaderCheck::BadLength);
    back.fragLength = 15;
    EXPECT_EQ(rpc::CheckHeader(back, 5840), rpc::HeaderCheck::BadLength);
    back.fragLength = 40;
    back.authLength = 17;  // 16 + 8 + 17 > 40
    EXPECT_EQ(rpc::CheckHeader(back, 5840), rpc::HeaderCheck::BadLength);
    back.authLength = 16;
    EXPECT_EQ(rpc::CheckHeader(back, 5840), rpc::HeaderCheck::Ok);
    back.versionMinor = 2;
    EXPECT_EQ(rpc::CheckHeader(back, 5840), rpc::HeaderCheck::BadVersion);
}

TEST(RpcPduBindAck, SecondaryAddressIsPaddedToFour)
{
    for (const char* address : {"", "5", "1234", "34347", "123456"}) {
        rpc::BindAckPdu ack;
        ack.maxXmitFrag = 5840;
        ack.maxRecvFrag = 4280;
        ack.assocGroup = 0x11;
        ack.secondaryAddress = address;
        ack.results = {{rpc::kResultAcceptance, 0, rpc::kNdr20}};
        CRpcBuffer out;
        rpc::EncodeBindAck(out, Header(rpc::PduType::BindAck, 3), ack);
        size_t length = ack.secondaryAddress.empty() ? 0 : ack.secondaryAddress.size() + 1;
        size_t results = (26 + length + 3) & ~size_t(3);
        ASSERT_EQ(out.Size(), results + 4 + 24) << address;
        EXPECT_EQ(ndr::Load16(out.Data() + 24, false), length);
        EXPECT_EQ(out.Data()[results], 1);  // one result
        rpc::BindAckPdu back;
        Bytes pdu(out.Data(), out.Data() + out.Size());
        ASSERT_TRUE(rpc::ParseBindAck(pdu, rpc::DecodeHeader(pdu.data()), back));
        EXPECT_EQ(back.secondaryAddress, address);
        ASSERT_EQ(back.results.size(), 1u);
        EXPECT_EQ(back.results[0].transfer, rpc::kNdr20);
        EXPECT_EQ(back.maxRecvFrag, 4280);
    }
}

TEST(RpcPduBind, TruncatedOrOvercountedBindsAreRejected)
{
    Bytes bind = BindBytes({{0, {rpc::kNdr20.uuid, 1, 0}, {rpc::kNdr20, rpc::kNdr64}}});
    rpc::BindPdu parsed;
    ASSERT_TRUE(rpc::ParseBind(bind, rpc::DecodeHeader(bind.data()), parsed));
    ASSERT_EQ(parsed.contexts.size(), 1u);
    EXPECT_EQ(parsed.contexts[0].transfers.size(), 2u);
    // The header claims less than the body needs.
    for (USHORT cut : {USHORT(16), USHORT(27), USHORT(bind.size() - 1)}) {
        Bytes shorter = bind;
        ndr::Store16(shorter.data() + 8, cut, false);
        shorter.resize(cut);
        EXPECT_FALSE(rpc::ParseBind(shorter, rpc::DecodeHeader(shorter.data()), parsed)) << cut;
    }
    // More transfer syntaxes than the fragment holds.
    Bytes overcounted = bind;
    overcounted[30] = 200;
    EXPECT_FALSE(rpc::ParseBind(overcounted, rpc::DecodeHeader(overcounted.data()), parsed));
    // More contexts than the fragment holds.
    Bytes contexts = bind;
    contexts[24] = 255;
    EXPECT_FALSE(rpc::ParseBind(contexts, rpc::DecodeHeader(contexts.data()), parsed));
    // A span shorter than the header's length is refused outright.
    EXPECT_FALSE(rpc::ParseBind(std::span(bind.data(), bind.size() - 1), rpc::DecodeHeader(bind.data()), parsed));
}

TEST(RpcPduRequest, StubDataStopsBeforeTheVerifierAndItsPadding)
{
    Bytes pdu = RequestBytes(1, 0, 0, {1, 2, 3, 4, 5});
    AddAuthVerifier(pdu, 16);  // pads the 29 bytes to 32 first
    rpc::RequestPdu r;
    ASSERT_TRUE(rpc::ParseRequest(pdu, rpc::DecodeHeader(pdu.data()), r));
    EXPECT_EQ(Bytes(r.stub.begin(), r.stub.end()), (Bytes{1, 2, 3, 4, 5}));
    // A padding count larger than the stub leaves no stub data, not a wrap.
    pdu[32 + 2] = 200;
    EXPECT_FALSE(rpc::ParseRequest(pdu, rpc::DecodeHeader(pdu.data()), r));
}

TEST(RpcPduFault, FaultIsThirtyTwoBytes)
{
    BYTE raw[rpc::kFaultPduSize];
    rpc::EncodeFault(raw, Header(rpc::PduType::Fault, 9), 3, rpc::nca_s_op_rng_error);
    Bytes pdu(raw, raw + sizeof raw);
    rpc::PduHeader h = rpc::DecodeHeader(raw);
    EXPECT_EQ(h.fragLength, 32);
    rpc::FaultPdu f;
    ASSERT_TRUE(rpc::ParseFault(pdu, h, f));
    EXPECT_EQ(f.status, rpc::nca_s_op_rng_error);
    EXPECT_EQ(f.contextId, 3);
    EXPECT_EQ(ndr::Load32(raw + 24, false), 0x1C010002u);
}
