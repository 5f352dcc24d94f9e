#pragma once
// One connection to a running server, bound to its first interface, on which
// call records go one after the other; from a chosen loopback address when
// a test needs two clients that the server tells apart.

#include "common/callrecord/InvokeData.h"
#include "platform/rpc/RpcClient.h"

#include <string>
#include <vector>

namespace tqtest {

class TqwlClient {
public:
    explicit TqwlClient(const std::string& sourceAddress = {});

    // RPC_S_OK or why the connection or the bind failed.
    RPC_STATUS Connect(int port);
    bool IsConnected() const { return client_.IsConnected(); }

    // The procedure's value, or the RPC status as a number below -1 when the
    // call itself failed (-2: the reply did not read). The reply blob goes to
    // *reply, *nullReply tells a null pointer.
    long InvokeBlob(const std::vector<BYTE>& blob, std::vector<BYTE>* reply, bool* nullReply);
    // The same for a record; the reply decoded into reply.
    long Invoke(const CInvokeData& request, CInvokeData& reply);

private:
    static RpcClientOptions Options(const std::string& sourceAddress);

    CRpcClient client_;
    USHORT context_ = 0;
};

} // namespace tqtest
