// What a server sends back to a call: the bytes are a stream of reply
// packets (their call ids set to the call's, where a little-endian header
// fits) that a scripted server sends after binding the client, then closes.
// The client must end the call with a status, never read past what it got,
// and never accept more than its reply limit.
#include "tests/platform/rpc/PduBuilder.h"

#include "platform/rpc/RpcClient.h"
#include "platform/rpc/RpcPdu.h"
#include "platform/rpc/RpcSocket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

namespace {

constexpr size_t kReplyLimit = 1 << 20;
const GUID kInterface{0xA9934395, 0xCC29, 0x4CBA, {0x91, 0x04, 0xF0, 0x1F, 0xC6, 0xBA, 0x6A, 0xA0}};

int Listener(int* port)
{
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd, 4) != 0)
        std::abort();
    socklen_t length = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length);
    *port = ntohs(a.sin_port);
    return fd;
}

// Binds the client, reads its request, sends the stream and closes.
void Serve(int listener, std::vector<BYTE> stream)
{
    int fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0)
        return;
    CRpcSocket socket(::dup(fd));
    ULONG callId = 0;
    if (rpctest::AcceptBoundCall(socket, &callId)) {
        for (size_t at = 0; at + rpc::kCommonHeaderSize <= stream.size();) {
            BYTE* p = stream.data() + at;
            if ((p[4] & 0xF0) == 0x10)
                std::memcpy(p + 12, &callId, 4);
            at += std::max<size_t>(rpc::kCommonHeaderSize, size_t(p[8]) | size_t(p[9]) << 8);
        }
        socket.SendAll(stream.data(), stream.size(), 2000);
    }
    ::shutdown(fd, SHUT_RDWR);
    ::close(fd);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static int port = 0;
    static int listener = Listener(&port);
    std::thread server(Serve, listener, std::vector<BYTE>(data, data + size));
    RpcClientOptions options;
    options.bindTimeoutMs = 2000;
    options.callTimeoutMs = 2000;
    options.maxReplyBytes = kReplyLimit;
    CRpcClient client(options);
    USHORT context = 0;
    if (client.Connect("127.0.0.1", port) == RPC_S_OK && client.Bind(kInterface, 5, 0, &context) == RPC_S_OK) {
        CRpcBuffer reply;
        rpc::DataRep rep;
        const BYTE request[8] = {};
        if (client.Call(context, 1, request, reply, &rep) == RPC_S_OK && reply.Size() > kReplyLimit)
            std::abort();
    }
    client.Close();
    server.join();
    return 0;
}
