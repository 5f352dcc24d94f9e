#pragma once
// The framing of the plain request-and-reply server that the call rates are
// measured against: an 8-byte header of two little-endian u32, the frame's
// whole length (header included) and the length of the reply frame wanted
// (0 in a reply), then the payload. A frame is as long as the RPC packets it
// stands in for, so both carry the same bytes.

#include <cstddef>
#include <cstdint>

namespace tqbench {

class PlainFrame {
public:
    static constexpr size_t kHeaderSize = 8;
    // Larger than any benchmark message (64 MiB and its envelope).
    static constexpr uint32_t kMaxLength = 320u << 20;

    struct Header {
        uint32_t length = 0;
        uint32_t replyLength = 0;
    };
    enum class Check { NeedMore, Ok, Bad };

    static void EncodeHeader(unsigned char* out, const Header& header);
    // Bad for a length below the header's own or above kMaxLength, and for a
    // reply length that is neither 0 nor such a length.
    static Check DecodeHeader(const unsigned char* data, size_t available, Header* header);
};

} // namespace tqbench
