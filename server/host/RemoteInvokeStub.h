#pragma once
// The server side of the remote interface every virtual server answers,
// under both of its identities: GetVersion, and RemoteInvoke, whose request
// blob is unpacked into a call record, handed to the virtual server of the
// port the call came in on, and packed as the reply.

#include "common/callrecord/InvokeData.h"
#include "platform/rpc/RpcInterfaceRegistry.h"
#include "platform/rpc/RpcServer.h"
#include "platform/win/Guid.h"
#include "platform/win/WinTypes.h"

#include <functional>
#include <string>
#include <string_view>

class CWindowsServerModule;

class CRemoteInvokeStub {
public:
    static constexpr USHORT kVersionMajor = 5;
    static constexpr USHORT kVersionMinor = 0;
    // What GetVersion answers.
    static constexpr LONG kInterfaceVersion = 5;

    static const GUID& Tqcam50();
    static const GUID& Tqcam65();

    explicit CRemoteInvokeStub(CWindowsServerModule& module) : module_(module) {}

    // The interface under the given identity, its procedures bound to this stub.
    RpcInterfaceDefinition Definition(const GUID& uuid);

    RPC_STATUS OnGetVersion(CRpcCall& call);
    RPC_STATUS OnRemoteInvoke(CRpcCall& call);

private:
    CWindowsServerModule& module_;
};

// The call record of one RemoteInvoke: decoded, routed to the virtual server
// of the port and encoded as the reply into the block that allocateReply
// gives for its exact size (called at most once, when nothing but reading a
// sourced item, a file that shrank, can fail any more). With separate, the bytes of large out-items are not written there
// but handed over with their offset in the block (see
// CInvokeData::EncodeReplySeparating). 0, or 0x8000FFFF without a reply when
// the request does not decode or anything fails.
LONG InvokeCallRecord(CWindowsServerModule& module, LONG port, const BYTE* request, DWORD requestSize,
                      const std::function<BYTE*(DWORD size)>& allocateReply,
                      const CInvokeData::SeparatedItem* separate = nullptr);

// The port of a string binding such as "ncacn_ip_tcp:127.0.0.1[34347]"; 34347
// when it has none that reads as a number.
LONG PortFromStringBinding(std::string_view binding);
