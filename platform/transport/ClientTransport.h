#pragma once
// The client transport: carries one encoded call record to a peer and brings
// back the encoded reply. A transport is made per use through a factory that
// can be replaced (tests put a fake in its place), and ends when destroyed.
// The one production uses goes over RPC (RpcClientTransport.h).

#include "platform/win/WinTypes.h"

#include <functional>
#include <memory>

class ClientTransport {
public:
    virtual ~ClientTransport() = default;

    // Aims the transport at a peer and reaches it. The binding reads
    // "WINSERVER:host:port"; length is the binding's length in characters,
    // without its NUL.
    virtual HRESULT Connect(const char* binding, DWORD length) = 0;

    // Sends one encoded call record and hands out the encoded reply, which the
    // caller gives back through FreeReply. A failure code means no usable
    // reply came back (and *reply is left null).
    virtual HRESULT Call(const BYTE* request, DWORD size, BYTE** reply, DWORD* replyLength) = 0;

    virtual HRESULT FreeReply(BYTE* reply) = 0;
};

using ClientTransportFactory = std::function<HRESULT(std::unique_ptr<ClientTransport>* out)>;

// Makes a transport with the current factory; the default one makes the RPC
// transport.
HRESULT CreateClientTransport(std::unique_ptr<ClientTransport>* out);

// Replaces the factory (an empty one restores the default) and gives back the
// one it replaced.
ClientTransportFactory SetClientTransportFactory(ClientTransportFactory factory);
