#include "platform/transport/RpcClientTransport.h"
#include "tests/platform/transport/InvokeListener.h"
#include "tests/support/TestSupport.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <numeric>
#include <string>
#include <vector>

using transporttest::InvokeAnswer;
using transporttest::InvokeListener;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

const HRESULT kUnavailable = HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE);

HRESULT ConnectTo(ClientTransport& t, const std::string& binding)
{
    return t.Connect(binding.c_str(), static_cast<DWORD>(binding.size()));
}

// One call; the reply's bytes in *out (freed here).
HRESULT CallWith(ClientTransport& t, const std::vector<BYTE>& request, std::vector<BYTE>* out = nullptr)
{
    BYTE* reply = reinterpret_cast<BYTE*>(1); // must be replaced
    DWORD length = 12345;
    HRESULT hr = t.Call(request.data(), static_cast<DWORD>(request.size()), &reply, &length);
    if (FAILED(hr)) {
        EXPECT_EQ(reply, nullptr);
        EXPECT_EQ(length, 0u);
    }
    if (out != nullptr)
        out->assign(reply == nullptr ? nullptr : reply, reply == nullptr ? nullptr : reply + length);
    if (reply != nullptr && SUCCEEDED(hr)) {
        EXPECT_EQ(t.FreeReply(reply), S_OK);
    }
    return hr;
}

// A mode-1 call record (header, then the result) with the given result.
std::vector<BYTE> ReplyRecord(DWORD code, HRESULT result)
{
    std::vector<BYTE> r(40, 0);
    std::memcpy(&r[0], &code, 4);
    r[4] = 1;
    const DWORD value = static_cast<DWORD>(result);
    std::memcpy(&r[36], &value, 4);
    return r;
}

ClientTransportOptions Quick()
{
    ClientTransportOptions o;
    o.connectTimeoutMs = 2000;
    o.bindTimeoutMs = 300;
    o.callTimeoutMs = 300;
    return o;
}

// Accepts TCP connections (the kernel does) and never says a word.
class SilentListener {
public:
    SilentListener()
    {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        EXPECT_EQ(::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
        EXPECT_EQ(::listen(fd_, 8), 0);
        EXPECT_EQ(::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len), 0);
        port_ = ntohs(a.sin_port);
    }
    ~SilentListener() { ::close(fd_); }
    std::string Binding() const { return "WINSERVER:127.0.0.1:" + std::to_string(port_); }

private:
    int fd_ = -1;
    int port_ = 0;
};

template <typename F>
Clock::duration Timed(F f)
{
    const auto start = Clock::now();
    f();
    return Clock::now() - start;
}

} // namespace

TEST(RpcClientTransport, CarriesRequestAndReplyUnchanged)
{
    InvokeListener peer;
    const std::vector<BYTE> answer = {9, 8, 7, 0, 6};
    peer.SetAnswer(InvokeAnswer{answer});
    CRpcClientTransport t;
    ASSERT_EQ(ConnectTo(t, peer.Binding()), S_OK);

    const std::vector<BYTE> request = {1, 2, 3, 0, 4};
    std::vector<BYTE> reply;
    EXPECT_EQ(CallWith(t, request, &reply), S_OK);
    EXPECT_EQ(reply, answer);
    // More calls on the same connection, one of them much larger than a fragment.
    std::vector<BYTE> large(300'000);
    std::iota(large.begin(), large.end(), BYTE{0});
    peer.SetAnswer([](const std::vector<BYTE>& in) { return InvokeAnswer{std::vector<BYTE>(in.rbegin(), in.rend())}; });
    EXPECT_EQ(CallWith(t, large, &reply), S_OK);
    EXPECT_EQ(reply, std::vector<BYTE>(large.rbegin(), large.rend()));

    const auto requests = peer.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0], request);
    EXPECT_EQ(requests[1], large);
}

TEST(RpcClientTransport, FailureInsideTheRecordIsTheCallersToRead)
{
    // The transport carries the record; a failure the record holds is no
    // failure of the call.
    InvokeListener peer;
    const std::vector<BYTE> record = ReplyRecord(801, E_ACCESSDENIED);
    peer.SetAnswer(InvokeAnswer{record});
    CRpcClientTransport t;
    ASSERT_EQ(ConnectTo(t, peer.Binding()), S_OK);
    std::vector<BYTE> reply;
    EXPECT_EQ(CallWith(t, ReplyRecord(801, S_OK), &reply), S_OK);
    EXPECT_EQ(reply, record);
}

TEST(RpcClientTransport, ProcedureFailureComesBackWithoutAReply)
{
    InvokeListener peer;
    CRpcClientTransport t;
    ASSERT_EQ(ConnectTo(t, peer.Binding()), S_OK);

    // A peer that could not handle the call: empty reply and 0x8000FFFF.
    InvokeAnswer failed;
    failed.nullReply = true;
    failed.result = E_UNEXPECTED;
    peer.SetAnswer(failed);
    EXPECT_EQ(CallWith(t, {1}), E_UNEXPECTED);
    // Even with bytes beside it, a failing procedure hands nothing out.
    failed.nullReply = false;
    failed.reply = {1, 2, 3};
    failed.result = E_FAIL;
    peer.SetAnswer(failed);
    EXPECT_EQ(CallWith(t, {1}), E_FAIL);

    // An empty reply with success: nothing to hand out, nothing to free.
    InvokeAnswer empty;
    empty.nullReply = true;
    peer.SetAnswer(empty);
    std::vector<BYTE> reply = {1};
    EXPECT_EQ(CallWith(t, {1}, &reply), S_OK);
    EXPECT_TRUE(reply.empty());
}

TEST(RpcClientTransport, FaultsAndBadStubDataBecomeTheirStatus)
{
    InvokeListener peer;
    CRpcClientTransport t;
    ASSERT_EQ(ConnectTo(t, peer.Binding()), S_OK);

    InvokeAnswer fault;
    fault.fault = RPC_S_SERVER_TOO_BUSY;
    peer.SetAnswer(fault);
    EXPECT_EQ(CallWith(t, {1}), HRESULT_FROM_WIN32(RPC_S_SERVER_TOO_BUSY));

    InvokeAnswer garbled;
    garbled.garbledStub = true;
    peer.SetAnswer(garbled);
    EXPECT_EQ(CallWith(t, {1}), HRESULT_FROM_WIN32(RPC_X_BAD_STUB_DATA));

    // The connection still serves.
    peer.SetAnswer(InvokeAnswer{{5}});
    std::vector<BYTE> reply;
    EXPECT_EQ(CallWith(t, {1}, &reply), S_OK);
    EXPECT_EQ(reply, std::vector<BYTE>{5});
}

TEST(RpcClientTransport, RefusedPortFailsFastAndCallsDoNotTryAgain)
{
    const int port = tqtest::FreeTcpPort();
    CRpcClientTransport t;
    HRESULT connect = S_OK, call = S_OK;
    const auto connecting = Timed([&] { connect = ConnectTo(t, "WINSERVER:127.0.0.1:" + std::to_string(port)); });
    const auto calling = Timed([&] { call = CallWith(t, {1, 2}); });
    EXPECT_EQ(connect, kUnavailable);
    EXPECT_EQ(call, kUnavailable);
    EXPECT_LT(connecting, 2s);
    EXPECT_LT(calling, 100ms);
}

TEST(RpcClientTransport, PeerThatNeverAnswersIsGivenUpOnInTime)
{
    // It takes the connection but never answers the bind.
    {
        SilentListener silent;
        CRpcClientTransport t(Quick());
        HRESULT hr = S_OK;
        const auto took = Timed([&] { hr = ConnectTo(t, silent.Binding()); });
        EXPECT_EQ(hr, HRESULT_FROM_WIN32(RPC_S_CALL_FAILED_DNE));
        EXPECT_GE(took, 250ms);
        EXPECT_LT(took, 3s);
        EXPECT_EQ(CallWith(t, {1}), HRESULT_FROM_WIN32(RPC_S_CALL_FAILED_DNE));
    }
    // It binds, takes the call and sits on it.
    InvokeListener peer;
    InvokeAnswer held{{1}};
    held.hold = true;
    peer.SetAnswer(held);
    CRpcClientTransport t(Quick());
    ASSERT_EQ(ConnectTo(t, peer.Binding()), S_OK);
    HRESULT hr = S_OK;
    const auto took = Timed([&] { hr = CallWith(t, {1}); });
    EXPECT_EQ(hr, HRESULT_FROM_WIN32(RPC_S_CALL_CANCELLED));
    EXPECT_GE(took, 250ms);
    EXPECT_LT(took, 3s);

    // Once the peer answers again, the next call makes a new connection.
    peer.SetAnswer(InvokeAnswer{{7}});
    peer.Release();
    std::vector<BYTE> reply;
    EXPECT_EQ(CallWith(t, {2}, &reply), S_OK);
    EXPECT_EQ(reply, std::vector<BYTE>{7});
}

TEST(RpcClientTransport, DefaultTimeoutsAreBounded)
{
    const ClientTransportOptions o;
    EXPECT_EQ(o.connectTimeoutMs, 5000u);
    EXPECT_EQ(o.bindTimeoutMs, 5000u);
    EXPECT_EQ(o.callTimeoutMs, 30000u);
    // A zero never means "wait for ever".
    SilentListener silent;
    ClientTransportOptions zero;
    zero.bindTimeoutMs = 0;
    CRpcClientTransport t(zero);
    EXPECT_EQ(ConnectTo(t, silent.Binding()), HRESULT_FROM_WIN32(RPC_S_CALL_FAILED_DNE));
}

TEST(RpcClientTransport, MalformedBindingReachesNobody)
{
    InvokeListener peer;
    const std::string good = peer.Binding();
    CRpcClientTransport t;
    EXPECT_EQ(ConnectTo(t, "WINSERVER:127.0.0.1:port"), HRESULT_FROM_WIN32(RPC_S_INVALID_ENDPOINT_FORMAT));
    EXPECT_EQ(CallWith(t, {1}), HRESULT_FROM_WIN32(RPC_S_INVALID_ENDPOINT_FORMAT));
    EXPECT_EQ(ConnectTo(t, "127.0.0.1:" + std::to_string(peer.Port())), HRESULT_FROM_WIN32(RPC_S_INVALID_STRING_BINDING));
    EXPECT_EQ(ConnectTo(t, "WINSERVER:local host:" + std::to_string(peer.Port())),
              HRESULT_FROM_WIN32(RPC_S_INVALID_NET_ADDR));
    // A NUL inside the given length, or a length past any binding.
    const std::string withNul = good + std::string(1, '\0') + "x";
    EXPECT_EQ(t.Connect(withNul.c_str(), static_cast<DWORD>(withNul.size())),
              HRESULT_FROM_WIN32(RPC_S_INVALID_STRING_BINDING));
    const std::string huge = "WINSERVER:" + std::string(600, 'a');
    EXPECT_EQ(t.Connect(huge.c_str(), static_cast<DWORD>(huge.size())), HRESULT_FROM_WIN32(RPC_S_INVALID_STRING_BINDING));
    EXPECT_EQ(t.Connect(nullptr, 5), E_POINTER);
    EXPECT_TRUE(peer.Requests().empty());

    // Only the given length counts: what follows it is not read.
    const std::string longer = good + "99";
    EXPECT_EQ(t.Connect(longer.c_str(), static_cast<DWORD>(good.size())), S_OK);
    EXPECT_EQ(CallWith(t, {1}), S_OK);
}

TEST(RpcClientTransport, MisuseIsRefusedWithoutHarm)
{
    CRpcClientTransport t;
    // Never connected.
    EXPECT_EQ(CallWith(t, {1}), HRESULT_FROM_WIN32(RPC_S_INVALID_BINDING));

    InvokeListener peer;
    peer.SetAnswer(InvokeAnswer{{1, 2}});
    ASSERT_EQ(ConnectTo(t, peer.Binding()), S_OK);
    BYTE* reply = nullptr;
    DWORD length = 0;
    EXPECT_EQ(t.Call(nullptr, 4, &reply, &length), E_POINTER);
    EXPECT_EQ(t.Call(nullptr, 0, nullptr, &length), E_POINTER);
    EXPECT_EQ(t.Call(nullptr, 0, &reply, nullptr), E_POINTER);
    EXPECT_TRUE(peer.Requests().empty());

    // An empty request is a request.
    ASSERT_EQ(t.Call(nullptr, 0, &reply, &length), S_OK);
    ASSERT_NE(reply, nullptr);
    EXPECT_EQ(length, 2u);
    BYTE foreign[4];
    EXPECT_EQ(t.FreeReply(foreign), E_INVALIDARG);
    EXPECT_EQ(t.FreeReply(nullptr), S_OK);
    EXPECT_EQ(t.FreeReply(reply), S_OK);
    EXPECT_EQ(t.FreeReply(reply), E_INVALIDARG); // not twice

    // A reply not given back is freed with the transport.
    ASSERT_EQ(t.Call(nullptr, 0, &reply, &length), S_OK);
}

TEST(RpcClientTransport, PeerWithoutTheInterfaceIsRefusedAtConnect)
{
    const GUID other{0x12345678, 0x1234, 0x1234, {1, 2, 3, 4, 5, 6, 7, 8}};
    InvokeListener peer(0, other);
    CRpcClientTransport t;
    EXPECT_EQ(ConnectTo(t, peer.Binding()), HRESULT_FROM_WIN32(RPC_S_UNKNOWN_IF));
    EXPECT_EQ(CallWith(t, {1}), HRESULT_FROM_WIN32(RPC_S_UNKNOWN_IF));
}

TEST(RpcClientTransport, ConnectionLostBetweenCallsIsMadeAnew)
{
    auto peer = std::make_unique<InvokeListener>();
    const int port = peer->Port();
    peer->SetAnswer(InvokeAnswer{{1}});
    CRpcClientTransport t;
    ASSERT_EQ(ConnectTo(t, peer->Binding()), S_OK);
    ASSERT_EQ(CallWith(t, {1}), S_OK);

    // The peer goes away (closing the connection) and comes back on its port.
    peer.reset();
    peer = std::make_unique<InvokeListener>(port);
    ASSERT_EQ(peer->Port(), port);
    peer->SetAnswer(InvokeAnswer{{2}});
    std::vector<BYTE> reply;
    EXPECT_EQ(CallWith(t, {3}, &reply), S_OK);
    EXPECT_EQ(reply, std::vector<BYTE>{2});
    EXPECT_EQ(peer->Requests().size(), 1u);

    // Away for good: the call fails, and so do later ones, at once.
    peer.reset();
    EXPECT_EQ(CallWith(t, {4}), kUnavailable);
    const auto took = Timed([&] { EXPECT_EQ(CallWith(t, {5}), kUnavailable); });
    EXPECT_LT(took, 100ms);
}

TEST(RpcClientTransport, ReachesAPeerByName)
{
    InvokeListener peer;
    peer.SetAnswer(InvokeAnswer{{4}});
    CRpcClientTransport t;
    ASSERT_EQ(ConnectTo(t, "WINSERVER:localhost:" + std::to_string(peer.Port())), S_OK);
    std::vector<BYTE> reply;
    EXPECT_EQ(CallWith(t, {1}, &reply), S_OK);
    EXPECT_EQ(reply, std::vector<BYTE>{4});
}
