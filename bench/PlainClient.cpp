#include "bench/PlainClient.h"

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

namespace tqbench {

PlainClient::~PlainClient()
{
    Close();
}

bool PlainClient::Connect(int port)
{
    Close();
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0)
        return false;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<uint16_t>(port));
    if (::connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        Close();
        return false;
    }
    int one = 1;
    ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    reader_ = std::make_unique<PlainFrameReader>(fd_);
    return true;
}

void PlainClient::Close()
{
    reader_.reset();
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

bool PlainClient::Call(size_t requestLength, size_t replyLength)
{
    if (fd_ < 0 || requestLength < PlainFrame::kHeaderSize || replyLength < PlainFrame::kHeaderSize ||
        requestLength > PlainFrame::kMaxLength || replyLength > PlainFrame::kMaxLength)
        return false;
    if (request_.size() != requestLength)
        request_.resize(requestLength);
    PlainFrame::EncodeHeader(request_.data(),
                             {static_cast<uint32_t>(requestLength), static_cast<uint32_t>(replyLength)});
    size_t sent = 0;
    while (sent < requestLength) {
        ssize_t n = ::send(fd_, request_.data() + sent, requestLength - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        sent += static_cast<size_t>(n);
    }
    PlainFrame::Header reply;
    const unsigned char* frame = nullptr;
    return reader_->Next(&reply, &frame) == PlainFrameReader::Result::Ok && reply.length == replyLength &&
           reply.replyLength == 0;
}

} // namespace tqbench
