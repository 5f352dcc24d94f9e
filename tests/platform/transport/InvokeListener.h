#pragma once
// A peer for transport tests: an RPC server on a free loopback port that
// serves the call-record interface and answers RemoteInvoke as the test
// says, keeping every request it received. Also used by delivery tests.

#include "platform/rpc/RemoteInvokeNdr.h"
#include "platform/rpc/RpcServer.h"
#include "platform/transport/RpcClientTransport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace transporttest {

// What the peer does with one RemoteInvoke.
struct InvokeAnswer {
    std::vector<BYTE> reply;   // the reply blob
    bool nullReply = false;    // send a null pointer instead of the blob
    LONG result = 0;           // the procedure's result
    RPC_STATUS fault = RPC_S_OK; // non-zero: answer with this fault instead
    bool garbledStub = false;  // stub data that is no reply at all
    bool hold = false;         // answer only once Release() is called
};

class InvokeListener {
public:
    using Answerer = std::function<InvokeAnswer(const std::vector<BYTE>& request)>;

    // port 0 picks a free one.
    explicit InvokeListener(int port = 0, const GUID& interfaceId = CRpcClientTransport::kInterface)
    {
        EXPECT_EQ(server_.RegisterEndpoint(port, 1234, &port_, "127.0.0.1"), RPC_S_OK);
        RpcDispatchFunction getVersion = [](CRpcCall& call) {
            NdrMarshalGetVersionReply(call.Reply(), 5);
            return RPC_S_OK;
        };
        RpcDispatchFunction invoke = [this](CRpcCall& call) { return Invoke(call); };
        EXPECT_EQ(server_.RegisterInterface({interfaceId, 5, 0, {getVersion, invoke}}), RPC_S_OK);
        EXPECT_EQ(server_.Listen(1, 1234, true), RPC_S_OK);
    }
    ~InvokeListener() { Stop(); }
    InvokeListener(const InvokeListener&) = delete;
    InvokeListener& operator=(const InvokeListener&) = delete;

    int Port() const { return port_; }
    std::string Binding() const { return "WINSERVER:127.0.0.1:" + std::to_string(port_); }

    void SetAnswer(Answerer answerer)
    {
        std::lock_guard lock(mutex_);
        answerer_ = std::move(answerer);
    }
    void SetAnswer(InvokeAnswer answer)
    {
        SetAnswer([answer](const std::vector<BYTE>&) { return answer; });
    }

    std::vector<std::vector<BYTE>> Requests()
    {
        std::lock_guard lock(mutex_);
        return requests_;
    }
    bool AwaitRequests(size_t n, std::chrono::milliseconds limit = std::chrono::seconds(20))
    {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, limit, [&] { return requests_.size() >= n; });
    }
    // Lets held calls answer.
    void Release()
    {
        std::lock_guard lock(mutex_);
        released_ = true;
        changed_.notify_all();
    }
    // Ends the server: afterwards the port is closed.
    void Stop()
    {
        if (stopped_)
            return;
        stopped_ = true;
        Release();
        server_.StopListening();
        server_.WaitListen();
    }

private:
    RPC_STATUS Invoke(CRpcCall& call)
    {
        InvokeBlobView in;
        if (RPC_STATUS status = NdrUnmarshalInvokeRequest(call.Request(), call.DataRep(), in); status != RPC_S_OK)
            return status;
        std::vector<BYTE> request(in.data, in.data + in.size);
        InvokeAnswer answer;
        {
            std::unique_lock lock(mutex_);
            requests_.push_back(request);
            changed_.notify_all();
            Answerer answerer = answerer_;
            lock.unlock();
            if (answerer)
                answer = answerer(request);
            lock.lock();
            if (answer.hold)
                changed_.wait(lock, [&] { return released_; });
        }
        if (answer.fault != RPC_S_OK)
            return answer.fault;
        if (answer.garbledStub) {
            const BYTE junk[] = {1, 2, 3};
            call.Reply().Append(junk, sizeof junk);
            return RPC_S_OK;
        }
        if (answer.nullReply)
            NdrMarshalInvokeReply(call.Reply(), nullptr, 0, answer.result);
        else
            NdrMarshalInvokeReply(call.Reply(), answer.reply.data(), static_cast<ULONG>(answer.reply.size()),
                                  answer.result);
        return RPC_S_OK;
    }

    CRpcServer server_;
    int port_ = 0;
    bool stopped_ = false;
    std::mutex mutex_;
    std::condition_variable changed_;
    Answerer answerer_;
    std::vector<std::vector<BYTE>> requests_;
    bool released_ = false;
};

} // namespace transporttest
