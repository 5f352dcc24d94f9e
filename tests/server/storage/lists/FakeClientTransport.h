#pragma once
// A test double of the client transport: it records every call it carries
// and answers as the test tells it. Install it with ScopedFakeTransport.

#include "platform/transport/ClientTransport.h"
#include "common/callrecord/InvokeData.h"

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace liststest {

struct TransportCall {
    std::string binding;
    DWORD code = 0;
    DWORD appId = 0;
    DWORD opId = 0;
    std::chrono::steady_clock::time_point at;
    std::string note; // what the test's observer saw at the time of the call
};

// What the peer does with one call.
struct PeerAnswer {
    HRESULT callResult = S_OK;     // the transport's own result
    HRESULT replyResult = S_OK;    // the result inside the reply record
    bool garbledReply = false;     // a reply that does not decode
};

class FakePeer {
public:
    PeerAnswer answer;
    HRESULT createResult = S_OK;
    // Called on each call, before it is answered; its text goes into the call's note.
    std::function<std::string(const TransportCall&)> observer;

    std::vector<TransportCall> Calls()
    {
        std::lock_guard lock(m_);
        return calls_;
    }
    int Created()
    {
        std::lock_guard lock(m_);
        return created_;
    }
    int Freed()
    {
        std::lock_guard lock(m_);
        return freed_;
    }
    bool AwaitCalls(size_t n, std::chrono::milliseconds limit = std::chrono::seconds(20))
    {
        std::unique_lock lock(m_);
        return cv_.wait_for(lock, limit, [&] { return calls_.size() >= n; });
    }

    HRESULT Make(std::unique_ptr<ClientTransport>* out);

private:
    friend class FakeClientTransport;
    std::mutex m_;
    std::condition_variable cv_;
    std::vector<TransportCall> calls_;
    int created_ = 0;
    int freed_ = 0;
};

class FakeClientTransport : public ClientTransport {
public:
    explicit FakeClientTransport(FakePeer* peer) : peer_(peer) {}

    HRESULT Connect(const char* binding, DWORD length) override
    {
        binding_.assign(binding, length);
        return S_OK;
    }

    HRESULT Call(const BYTE* request, DWORD size, BYTE** reply, DWORD* replyLength) override
    {
        TransportCall call;
        call.binding = binding_;
        call.at = std::chrono::steady_clock::now();
        CInvokeData record;
        if (record.Decode(request, size)) {
            call.code = record.functionCode;
            record.PopDword(&call.appId);
            record.PopDword(&call.opId);
        }
        if (peer_->observer)
            call.note = peer_->observer(call);
        PeerAnswer answer = peer_->answer;
        {
            std::lock_guard lock(peer_->m_);
            peer_->calls_.push_back(call);
            peer_->cv_.notify_all();
        }
        if (FAILED(answer.callResult))
            return answer.callResult;
        CInvokeData out(call.code);
        out.result = answer.replyResult;
        std::vector<BYTE> blob(out.GetEncodedSize(InvokeModeReply));
        out.Encode(blob.data(), static_cast<LONG>(blob.size()), InvokeModeReply);
        if (answer.garbledReply)
            blob.resize(10);
        *reply = new BYTE[blob.size()];
        std::copy(blob.begin(), blob.end(), *reply);
        *replyLength = static_cast<DWORD>(blob.size());
        return answer.callResult;
    }

    HRESULT FreeReply(BYTE* reply) override
    {
        delete[] reply;
        std::lock_guard lock(peer_->m_);
        ++peer_->freed_;
        return S_OK;
    }

private:
    FakePeer* peer_;
    std::string binding_;
};

inline HRESULT FakePeer::Make(std::unique_ptr<ClientTransport>* out)
{
    {
        std::lock_guard lock(m_);
        ++created_;
    }
    if (FAILED(createResult))
        return createResult;
    *out = std::make_unique<FakeClientTransport>(this);
    return S_OK;
}

// Puts the peer's transports in place of the real ones for its lifetime.
class ScopedFakeTransport {
public:
    explicit ScopedFakeTransport(FakePeer& peer)
        : previous_(SetClientTransportFactory([&peer](std::unique_ptr<ClientTransport>* out) {
              return peer.Make(out);
          }))
    {
    }
    ~ScopedFakeTransport() { SetClientTransportFactory(previous_); }
    ScopedFakeTransport(const ScopedFakeTransport&) = delete;
    ScopedFakeTransport& operator=(const ScopedFakeTransport&) = delete;

private:
    ClientTransportFactory previous_;
};

} // namespace liststest
