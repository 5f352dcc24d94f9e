#pragma once
// The server side of the runtime: TCP endpoints, interfaces with one dispatch
// function per procedure, and listening on call threads.
//
//   CRpcServer server;
//   server.RegisterEndpoint(34347, 1234);
//   server.RegisterInterface({uuid, 5, 0, {getVersion, remoteInvoke}});
//   server.Listen(1, 1234, true);        // returns at once
//   ...                                  // calls run on call threads
//   server.StopListening();              // from any thread
//   server.WaitListen();                 // returns once every call is done
//   server.UnregisterInterface(uuid, 5, 0, true);
//
// Every connection is served by one call thread from a pool that grows on
// demand, so a call that blocks holds up only its own connection. A quiet
// connection gives its thread back and waits in an idle watch.

#include "platform/rpc/RpcCall.h"
#include "platform/rpc/RpcCallGate.h"
#include "platform/rpc/RpcInterfaceRegistry.h"
#include "platform/rpc/RpcServerLimits.h"

#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class CRpcServer {
public:
    CRpcServer();
    // Stops listening and waits for the calls still running.
    ~CRpcServer();
    CRpcServer(const CRpcServer&) = delete;
    CRpcServer& operator=(const CRpcServer&) = delete;

    // Before Listen.
    void SetLimits(const RpcServerLimits& limits);
    // Runs first on every call thread the server starts (a per-thread fault
    // handler, for instance).
    void SetCallThreadStartHook(std::function<void()> hook);
    // Chooses the fault status for whatever a dispatch function throws;
    // without a filter (or when it throws) the call fails with
    // RPC_S_CALL_FAILED, sent as the unspecified fault (0x1C000012).
    void SetExceptionFilter(CRpcCallGate::ExceptionFilter filter);

    // Opens a TCP endpoint on port (0 picks a free one; boundPort receives
    // the port) on every local address, or on the numeric address given.
    // maxCalls sizes the queue of connections not yet accepted.
    // RPC_S_DUPLICATE_ENDPOINT when the port is taken, RPC_S_INVALID_ENDPOINT_FORMAT
    // for a port outside 0..65535, RPC_S_INVALID_NET_ADDR for a bad address,
    // RPC_S_CANT_CREATE_ENDPOINT otherwise.
    RPC_STATUS RegisterEndpoint(int port, unsigned maxCalls = 1234, int* boundPort = nullptr,
                                const std::string& address = {});

    // One string binding per open endpoint, "ncacn_ip_tcp:<address>[<port>]"
    // (the host's name for an endpoint on every address). RPC_S_NO_BINDINGS
    // when there is none.
    RPC_STATUS InquireBindings(std::vector<std::string>& bindings) const;

    // See CRpcInterfaceRegistry.
    RPC_STATUS RegisterInterface(const RpcInterfaceDefinition& definition);
    RPC_STATUS UnregisterInterface(const GUID& uuid, USHORT major, USHORT minor, bool waitForCalls);

    // Starts accepting connections. minThreads call threads are kept ready;
    // at most maxCalls calls run at once (more get RPC_S_SERVER_TOO_BUSY).
    // With dontWait it returns at once, otherwise when listening has stopped.
    // RPC_S_ALREADY_LISTENING, RPC_S_NO_PROTSEQS_REGISTERED without
    // endpoints, RPC_S_MAX_CALLS_TOO_SMALL for maxCalls 0.
    RPC_STATUS Listen(unsigned minThreads, unsigned maxCalls, bool dontWait);
    // Stops accepting, closes the endpoints (register them again before the
    // next Listen) and asks idle connections to close; running calls finish
    // and their replies are sent. RPC_S_NOT_LISTENING when not listening.
    RPC_STATUS StopListening();
    // Waits until listening has stopped and every connection has ended.
    // RPC_S_NOT_LISTENING when Listen was never called.
    RPC_STATUS WaitListen();

    bool IsListening() const;
    // Calls running now, and connections open now.
    unsigned ActiveCalls() const;
    size_t ConnectionCount() const;
    // Connections quiet for a second or more: they wait without a call
    // thread or a read buffer until their next packet.
    size_t QuietConnectionCount() const;

private:
    class Impl;
    std::unique_ptr<Impl> impl_;
};
