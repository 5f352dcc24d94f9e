#include "bench/PlainFrame.h"

namespace tqbench {

namespace {

void Put(unsigned char* out, uint32_t value)
{
    out[0] = static_cast<unsigned char>(value);
    out[1] = static_cast<unsigned char>(value >> 8);
    out[2] = static_cast<unsigned char>(value >> 16);
    out[3] = static_cast<unsigned char>(value >> 24);
}

uint32_t Get(const unsigned char* in)
{
    return uint32_t(in[0]) | (uint32_t(in[1]) << 8) | (uint32_t(in[2]) << 16) | (uint32_t(in[3]) << 24);
}

bool ValidLength(uint32_t length)
{
    return length >= PlainFrame::kHeaderSize && length <= PlainFrame::kMaxLength;
}

} // namespace

void PlainFrame::EncodeHeader(unsigned char* out, const Header& header)
{
    Put(out, header.length);
    Put(out + 4, header.replyLength);
}

PlainFrame::Check PlainFrame::DecodeHeader(const unsigned char* data, size_t available, Header* header)
{
    if (available < kHeaderSize)
        return Check::NeedMore;
    header->length = Get(data);
    header->replyLength = Get(data + 4);
    if (!ValidLength(header->length) || (header->replyLength != 0 && !ValidLength(header->replyLength)))
        return Check::Bad;
    return Check::Ok;
}

} // namespace tqbench
