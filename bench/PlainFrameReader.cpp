#include "bench/PlainFrameReader.h"

#include <cerrno>
#include <cstring>
#include <sys/socket.h>

namespace tqbench {

bool PlainFrameReader::Fill(size_t need)
{
    while (end_ - begin_ < need) {
        if (buffer_.size() - begin_ < need) {
            std::memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
            end_ -= begin_;
            begin_ = 0;
            if (buffer_.size() < need)
                buffer_.resize(need);
        }
        ssize_t n = ::recv(fd_, buffer_.data() + end_, buffer_.size() - end_, 0);
        if (n > 0)
            end_ += static_cast<size_t>(n);
        else if (n == 0 || errno != EINTR)
            return false;
    }
    return true;
}

PlainFrameReader::Result PlainFrameReader::Next(PlainFrame::Header* header, const unsigned char** frame)
{
    begin_ += consumed_;
    consumed_ = 0;
    if (begin_ == end_)
        begin_ = end_ = 0;
    if (!Fill(PlainFrame::kHeaderSize))
        return Result::Closed;
    if (PlainFrame::DecodeHeader(buffer_.data() + begin_, end_ - begin_, header) != PlainFrame::Check::Ok)
        return Result::Bad;
    if (!Fill(header->length))
        return Result::Closed;
    *frame = buffer_.data() + begin_;
    consumed_ = header->length;
    return Result::Ok;
}

} // namespace tqbench
