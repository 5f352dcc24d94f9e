#pragma once
// A server for the tests: the two product interfaces (GetVersion returns 5,
// RemoteInvoke answers with the blob reversed and its size as the return
// value) and a control interface whose procedures block, throw, echo raw
// stub data and report where the call came in.

#include "platform/rpc/RpcServer.h"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

namespace rpctest {

// {A9934395-CC29-4CBA-9104-F01FC6BA6AA0} and {55D8F461-543B-4019-9D94-54584C00ECD4}, both 5.0.
extern const GUID kInterface50;
extern const GUID kInterface65;
// The control interface, 1.0.
extern const GUID kControl;

enum ControlOpnum : USHORT {
    kBlock = 0,       // waits until Release(); replies with the number of the call
    kThrow = 1,       // throws std::runtime_error
    kEcho = 2,        // replies with the request's stub data as it came
    kWhere = 3,       // replies "<local port>|<server string binding>|<byte order>"
    kBadStub = 4,     // returns RPC_X_BAD_STUB_DATA
};

class CTestRpcServer {
public:
    explicit CTestRpcServer(const RpcServerLimits& limits = {}, unsigned maxCalls = 1234);
    ~CTestRpcServer();

    CRpcServer& Server() { return server_; }
    int Port() const { return port_; }

    // Blocked calls.
    int Blocked() const { return blocked_.load(); }
    // Waits until n calls are blocked; false after timeoutMs.
    bool WaitBlocked(int n, int timeoutMs = 10000);
    void Release();
    // A thread that connects, binds the control interface and makes a
    // blocking call; its status lands in *status once it returns.
    std::thread StartBlockedCall(RPC_STATUS* status);
    // Threads that ran the call-thread hook.
    int HookRuns() const { return hookRuns_.load(); }

private:
    CRpcServer server_;
    int port_ = 0;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool released_ = false;
    std::atomic<int> blocked_{0};
    std::atomic<int> calls_{0};
    std::atomic<int> hookRuns_{0};
};

} // namespace rpctest
