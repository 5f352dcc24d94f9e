#include "AssociationHarness.h"

#include "TestRpcServer.h"

#include "platform/rpc/RemoteInvokeNdr.h"

#include <sys/uio.h>

#include <cstring>
#include <memory>

#include <gtest/gtest.h>

namespace rpctest {

CAssociationHarness::CAssociationHarness(const RpcServerLimits& limits, CRpcRequestBudget* budget)
    : limits_(limits), info_{34347, "127.0.0.1", "127.0.0.1", 50000, "ncacn_ip_tcp:127.0.0.1[34347]"},
      association_(registry_, gate_, limits_, info_, [this](const iovec* pieces, int count) {
          for (int i = 0; i < count; ++i) {
              const BYTE* p = static_cast<const BYTE*>(pieces[i].iov_base);
              sent_.insert(sent_.end(), p, p + pieces[i].iov_len);
          }
          return !fail_;
      }, budget)
{
    auto version = [](CRpcCall& call) {
        NdrMarshalGetVersionReply(call.Reply(), 5);
        return RPC_S_OK;
    };
    auto echo = [](CRpcCall& call) {
        call.Reply().Append(call.Request().data(), call.Request().size());
        return RPC_S_OK;
    };
    // Echoes the request with its middle sent from a block of its own; the
    // reply buffer holds 0xEE there, which must never be sent.
    auto spliced = [](CRpcCall& call) {
        const size_t size = call.Request().size();
        call.Reply().Append(call.Request().data(), size);
        auto middle = std::make_unique<BYTE[]>(size / 2 + 1);
        std::memcpy(middle.get(), call.Request().data() + size / 4, size / 2);
        std::memset(call.Reply().Data() + size / 4, 0xEE, size / 2);
        return call.SpliceReply(size / 4, std::move(middle), size / 2) ? RPC_S_OK : RPC_S_CALL_FAILED;
    };
    // Splices, then fails: a fault, and the block is freed.
    auto splicedFailure = [](CRpcCall& call) {
        call.Reply().Append(call.Request().data(), call.Request().size());
        call.SpliceReply(0, std::make_unique<BYTE[]>(call.Request().size()), call.Request().size());
        return RPC_S_OUT_OF_MEMORY;
    };
    // Splices, then empties the buffer behind the call's back.
    auto splicedThenCleared = [](CRpcCall& call) {
        call.Reply().Append(call.Request().data(), call.Request().size());
        call.SpliceReply(0, std::make_unique<BYTE[]>(call.Request().size()), call.Request().size());
        call.Reply().Clear();
        return RPC_S_OK;
    };
    auto sourced = [this](CRpcCall& call) {
        if (call.Request().size() < 4)
            return RPC_S_CALL_FAILED;
        const size_t size = size_t(call.Request()[0]) | size_t(call.Request()[1]) << 8 |
                            size_t(call.Request()[2]) << 16 | size_t(call.Request()[3]) << 24;
        call.Reply().Resize(size);
        std::memset(call.Reply().Data(), 0xEE, size);
        std::shared_ptr<int> released(&sourcesReleased, [](int* count) { ++*count; });
        auto source = [this, released](size_t offset, BYTE* to, size_t length) {
            if (offset + length > sourceLimit)
                return false;
            for (size_t i = 0; i < length; ++i)
                to[i] = SourcedByte(offset + i);
            return true;
        };
        return call.SpliceReply(0, source, size) ? RPC_S_OK : RPC_S_CALL_FAILED;
    };
    registry_.Register({kInterface50, 5, 2, {version, echo, spliced, splicedFailure, splicedThenCleared, sourced}});
}

CRpcAssociation::Next CAssociationHarness::Feed(const Bytes& pdu)
{
    rpc::PduHeader h = rpc::DecodeHeader(pdu.data());
    rpc::HeaderCheck check = rpc::CheckHeader(h, limits_.maxRecvFragment);
    if (check != rpc::HeaderCheck::Ok || pdu.size() != h.fragLength) {
        association_.OnBadHeader(h, check);
        return CRpcAssociation::Next::Close;
    }
    return association_.OnPdu(h, pdu);
}

std::vector<Bytes> CAssociationHarness::Sent()
{
    std::vector<Bytes> out = SplitPdus(sent_);
    sent_.clear();
    return out;
}

void CAssociationHarness::BindProduct()
{
    ASSERT_EQ(Feed(SimpleBind(kInterface50, 5, 0)), CRpcAssociation::Next::Continue);
    ASSERT_EQ(Sent().size(), 1u);
}

} // namespace rpctest
