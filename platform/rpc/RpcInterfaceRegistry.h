#pragma once
// The interfaces a server offers, looked up when a client binds, and the
// count of calls running in each, so an interface can be withdrawn once its
// calls have finished.

#include "platform/rpc/RpcCall.h"
#include "platform/rpc/RpcProtocol.h"
#include "platform/rpc/RpcStripedCount.h"

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <vector>

// An interface to register: its identity and one dispatch function per
// procedure number (an empty function counts as a missing procedure).
struct RpcInterfaceDefinition {
    GUID uuid{};
    USHORT versionMajor = 0;
    USHORT versionMinor = 0;
    std::vector<RpcDispatchFunction> procedures;
};

class CRpcInterfaceRegistry {
public:
    struct Entry {
        explicit Entry(RpcInterfaceDefinition d) : definition(std::move(d)) {}
        RpcInterfaceDefinition definition;
        CRpcStripedCount activeCalls;
        std::atomic<bool> removed{false};
        std::mutex mutex;
        std::condition_variable idle;
    };

    // RPC_S_OK, or RPC_S_TYPE_ALREADY_REGISTERED for a UUID and major
    // version that are registered already.
    RPC_STATUS Register(RpcInterfaceDefinition definition);
    // Withdraws the interface: new binds and calls no longer reach it. With
    // waitForCalls, returns once its running calls have finished.
    // RPC_S_UNKNOWN_IF when it is not registered.
    RPC_STATUS Unregister(const GUID& uuid, USHORT major, USHORT minor, bool waitForCalls);

    // The interface that serves a client asking for this abstract syntax: the
    // same UUID and major version, and a minor version at least the client's.
    std::shared_ptr<Entry> Find(const rpc::SyntaxId& abstract) const;

    // Counts a call in; false when the interface has been withdrawn. A call
    // is counted out on the thread that counted it in.
    static bool BeginCall(Entry& entry);
    static void EndCall(Entry& entry);

private:
    mutable std::shared_mutex mutex_;
    std::vector<std::shared_ptr<Entry>> entries_;
};
