#include "AssociationHarness.h"

#include "TestRpcServer.h"

#include "platform/rpc/RemoteInvokeNdr.h"

#include <sys/uio.h>

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
    registry_.Register({kInterface50, 5, 2, {version, echo}});
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
