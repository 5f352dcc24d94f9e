// NDR reading and writing, and the marshalling of the two procedures.
#include "platform/rpc/NdrReader.h"
#include "platform/rpc/NdrWriter.h"
#include "platform/rpc/RemoteInvokeNdr.h"
#include "platform/rpc/RpcFault.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using Bytes = std::vector<BYTE>;

Bytes Of(const CRpcBuffer& b)
{
    return Bytes(b.Data(), b.Data() + b.Size());
}

const rpc::DataRep kLittle = rpc::DataRep::LittleEndian();
const rpc::DataRep kBig = rpc::DataRep::BigEndianRep();

} // namespace

TEST(NdrReader, ReadsBothByteOrdersAndAlignsFromTheStart)
{
    const Bytes data = {0x01, 0xAA, 0xBB, 0xCC, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66};
    CNdrReader le(data, false);
    EXPECT_EQ(le.U8(), 0x01);
    le.Align(4);
    EXPECT_EQ(le.Position(), 4u);
    EXPECT_EQ(le.U32(), 0x44332211u);
    EXPECT_EQ(le.U16(), 0x6655);
    EXPECT_TRUE(le.Ok());
    CNdrReader be(data, true);
    be.Skip(4);
    EXPECT_EQ(be.U32(), 0x11223344u);
    EXPECT_EQ(be.U16(), 0x5566);
}

TEST(NdrReader, ReadingPastTheEndFailsForGood)
{
    const Bytes data = {1, 2, 3};
    CNdrReader r(data, false);
    EXPECT_EQ(r.U32(), 0u);
    EXPECT_FALSE(r.Ok());
    EXPECT_EQ(r.U8(), 0);  // still failed, even where a byte is left
    EXPECT_EQ(r.Remaining(), 0u);
    CNdrReader s(data, false);
    EXPECT_TRUE(s.Bytes(4).empty());
    EXPECT_FALSE(s.Ok());
    CNdrReader t(data, false);
    t.Seek(4);
    EXPECT_FALSE(t.Ok());
    CNdrReader u(data, false);
    u.Skip(1);
    u.Align(8);  // would move past the end
    EXPECT_FALSE(u.Ok());
}

TEST(NdrReader, UuidAndSyntaxFollowTheByteOrder)
{
    const GUID g{0x8A885D04, 0x1CEB, 0x11C9, {0x9F, 0xE8, 0x08, 0x00, 0x2B, 0x10, 0x48, 0x60}};
    for (bool big : {false, true}) {
        CRpcBuffer out;
        CNdrWriter w(out, big);
        w.Syntax({g, 2, 1});
        ASSERT_EQ(out.Size(), 20u);
        EXPECT_EQ(out.Data()[0], big ? 0x8A : 0x04);
        CNdrReader r(out.View(), big);
        rpc::SyntaxId s = r.Syntax();
        EXPECT_EQ(s.uuid, g);
        EXPECT_EQ(s.major, 2);
        EXPECT_EQ(s.minor, 1);
    }
    // The version is one 32-bit number, major in its low half.
    CRpcBuffer out;
    CNdrWriter(out, false).Syntax({g, 2, 1});
    EXPECT_EQ((Bytes(out.Data() + 16, out.Data() + 20)), (Bytes{2, 0, 1, 0}));
}

TEST(RemoteInvokeNdr, RequestLayoutMatchesTheWire)
{
    CRpcBuffer request;
    const BYTE blob[] = {0xAA, 0xBB, 0xCC};
    NdrMarshalInvokeRequest(request, blob, 3);
    EXPECT_EQ(Of(request), (Bytes{3, 0, 0, 0, 0x00, 0x00, 0x02, 0x00, 3, 0, 0, 0, 0xAA, 0xBB, 0xCC}));
    InvokeBlobView in;
    ASSERT_EQ(NdrUnmarshalInvokeRequest(request.View(), kLittle, in), RPC_S_OK);
    EXPECT_EQ(in.size, 3u);
    EXPECT_EQ(in.data, request.Data() + 12);  // in place, not copied

    CRpcBuffer big;
    NdrMarshalInvokeRequest(big, blob, 3, true);
    EXPECT_EQ(Of(big), (Bytes{0, 0, 0, 3, 0x00, 0x02, 0x00, 0x00, 0, 0, 0, 3, 0xAA, 0xBB, 0xCC}));
    ASSERT_EQ(NdrUnmarshalInvokeRequest(big.View(), kBig, in), RPC_S_OK);
    EXPECT_EQ(in.size, 3u);
    EXPECT_EQ(in.data[2], 0xCC);

    CRpcBuffer null;
    NdrMarshalInvokeRequest(null, nullptr, 0);
    EXPECT_EQ(Of(null), Bytes(8, 0));
    ASSERT_EQ(NdrUnmarshalInvokeRequest(null.View(), kLittle, in), RPC_S_OK);
    EXPECT_EQ(in.data, nullptr);
    EXPECT_EQ(in.size, 0u);
}

TEST(RemoteInvokeNdr, BadRequestsAreBadStubData)
{
    const Bytes good = {3, 0, 0, 0, 0, 0, 2, 0, 3, 0, 0, 0, 0xAA, 0xBB, 0xCC};
    InvokeBlobView in;
    // Every truncation fails.
    for (size_t n = 0; n < good.size(); ++n)
        EXPECT_EQ(NdrUnmarshalInvokeRequest(std::span(good.data(), n), kLittle, in), RPC_X_BAD_STUB_DATA) << n;
    // Trailing bytes are ignored, as stubs do.
    Bytes longer = good;
    longer.push_back(0);
    EXPECT_EQ(NdrUnmarshalInvokeRequest(longer, kLittle, in), RPC_S_OK);
    // The array's count must equal the size.
    Bytes mismatch = good;
    mismatch[8] = 2;
    EXPECT_EQ(NdrUnmarshalInvokeRequest(mismatch, kLittle, in), RPC_X_BAD_STUB_DATA);
    // A null pointer with a size would hand the server a size without bytes.
    const Bytes nullWithSize = {5, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(NdrUnmarshalInvokeRequest(nullWithSize, kLittle, in), RPC_X_BAD_STUB_DATA);
    // A huge size with few bytes.
    const Bytes huge = {0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 2, 0, 0xFF, 0xFF, 0xFF, 0xFF, 1, 2};
    EXPECT_EQ(NdrUnmarshalInvokeRequest(huge, kLittle, in), RPC_X_BAD_STUB_DATA);
    // Read in the wrong byte order, the sizes disagree with the data.
    EXPECT_EQ(NdrUnmarshalInvokeRequest(good, kBig, in), RPC_X_BAD_STUB_DATA);
}

TEST(RemoteInvokeNdr, ReplyAlignsTheReturnValue)
{
    const BYTE five[] = {1, 2, 3, 4, 5};
    CRpcBuffer reply;
    NdrMarshalInvokeReply(reply, five, 5, 0x11223344);
    ASSERT_EQ(reply.Size(), 4u + 4 + 4 + 5 + 3 + 4);
    EXPECT_EQ((Bytes(reply.Data() + 17, reply.Data() + 20)), Bytes(3, 0));  // padding
    EXPECT_EQ((Bytes(reply.Data() + 20, reply.Data() + 24)), (Bytes{0x44, 0x33, 0x22, 0x11}));
    InvokeBlobView out;
    LONG result = 0;
    ASSERT_EQ(NdrUnmarshalInvokeReply(reply.View(), kLittle, out, result), RPC_S_OK);
    EXPECT_EQ(result, 0x11223344);
    EXPECT_EQ(out.size, 5u);
    EXPECT_EQ(out.data[4], 5);

    // The empty reply of a failed call: size 0, null pointer, the result.
    CRpcBuffer empty;
    NdrMarshalInvokeReply(empty, nullptr, 0, LONG(E_UNEXPECTED));
    EXPECT_EQ(Of(empty), (Bytes{0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0x00, 0x80}));
    ASSERT_EQ(NdrUnmarshalInvokeReply(empty.View(), kLittle, out, result), RPC_S_OK);
    EXPECT_EQ(out.data, nullptr);
    EXPECT_EQ(result, E_UNEXPECTED);
    // Without the return value the reply is short.
    EXPECT_EQ(NdrUnmarshalInvokeReply(std::span(empty.Data(), 8), kLittle, out, result), RPC_X_BAD_STUB_DATA);
}

TEST(RemoteInvokeNdr, ReplyBytesAreWrittenInPlace)
{
    CRpcBuffer reply;
    BYTE* at = NdrBeginInvokeReply(reply, 4);
    ASSERT_NE(at, nullptr);
    for (int i = 0; i < 4; ++i)
        at[i] = BYTE(0xF0 + i);
    NdrFinishInvokeReply(reply, 7);
    EXPECT_EQ(Of(reply), (Bytes{4, 0, 0, 0, 0, 0, 2, 0, 4, 0, 0, 0, 0xF0, 0xF1, 0xF2, 0xF3, 7, 0, 0, 0}));
    CRpcBuffer null;
    EXPECT_EQ(NdrBeginInvokeReply(null, 0, true), nullptr);
}

TEST(RemoteInvokeNdr, GetVersionReply)
{
    CRpcBuffer reply;
    NdrMarshalGetVersionReply(reply, 5);
    EXPECT_EQ(Of(reply), (Bytes{5, 0, 0, 0}));
    LONG version = 0;
    ASSERT_EQ(NdrUnmarshalGetVersionReply(reply.View(), kLittle, version), RPC_S_OK);
    EXPECT_EQ(version, 5);
    const Bytes big = {0, 0, 0, 5};
    ASSERT_EQ(NdrUnmarshalGetVersionReply(big, kBig, version), RPC_S_OK);
    EXPECT_EQ(version, 5);
    EXPECT_EQ(NdrUnmarshalGetVersionReply(std::span(big.data(), 3), kLittle, version), RPC_X_BAD_STUB_DATA);
}

TEST(RpcFaultCodes, StatusesAndWireCodesMapBothWays)
{
    EXPECT_EQ(RpcStatusToFaultCode(RPC_S_PROCNUM_OUT_OF_RANGE), 0x1C010002u);
    EXPECT_EQ(RpcStatusToFaultCode(RPC_S_UNKNOWN_IF), 0x1C010003u);
    EXPECT_EQ(RpcStatusToFaultCode(RPC_X_BAD_STUB_DATA), 0x6F7u);
    EXPECT_EQ(RpcStatusToFaultCode(RPC_S_CALL_FAILED), 0x1C000012u);
    EXPECT_EQ(RpcStatusToFaultCode(RPC_S_OK), 0x1C000012u);
    EXPECT_EQ(RpcStatusToFaultCode(ERROR_ACCESS_DENIED), 5u);
    for (RPC_STATUS s : {RPC_S_PROCNUM_OUT_OF_RANGE, RPC_S_UNKNOWN_IF, RPC_X_BAD_STUB_DATA, RPC_S_CALL_FAILED,
                         RPC_S_PROTOCOL_ERROR, RPC_S_SERVER_TOO_BUSY, RPC_S_CALL_CANCELLED, RPC_STATUS(5)})
        EXPECT_EQ(RpcFaultCodeToStatus(RpcStatusToFaultCode(s)), s);
    // Protocol codes without a status of their own are failed calls.
    EXPECT_EQ(RpcFaultCodeToStatus(0x1C000002), RPC_S_CALL_FAILED);
    EXPECT_EQ(RpcFaultCodeToStatus(0), RPC_S_CALL_FAILED);
}
