#pragma once
// The client transport: carries one encoded call record to a peer and brings
// back the encoded reply. A transport is made per use through a factory that
// can be replaced (tests put a fake in its place), and ends when destroyed.

#include "platform/win/WinTypes.h"

#include <functional>
#include <memory>

// The transport's class is not there: no implementation can be made.
constexpr HRESULT REGDB_E_CLASSNOTREG = static_cast<HRESULT>(0x80040154u);

class ClientTransport {
public:
    virtual ~ClientTransport() = default;

    // Aims the transport at a peer. The binding reads "WINSERVER:host:port";
    // length is the binding's length in characters, without its NUL.
    virtual HRESULT Connect(const char* binding, DWORD length) = 0;

    // Sends one encoded call record and hands out the encoded reply, which the
    // caller gives back through FreeReply. A failure code means no usable
    // reply came back (and *reply is left null).
    virtual HRESULT Call(const BYTE* request, DWORD size, BYTE** reply, DWORD* replyLength) = 0;

    virtual HRESULT FreeReply(BYTE* reply) = 0;
};

using ClientTransportFactory = std::function<HRESULT(std::unique_ptr<ClientTransport>* out)>;

// Makes a transport with the current factory. Until a real transport is
// installed, the default factory has none to make and answers
// REGDB_E_CLASSNOTREG, so every delivery attempt counts as failed.
HRESULT CreateClientTransport(std::unique_ptr<ClientTransport>* out);

// Replaces the factory (an empty one restores the default) and gives back the
// one it replaced.
ClientTransportFactory SetClientTransportFactory(ClientTransportFactory factory);
