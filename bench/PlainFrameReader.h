#pragma once
// Reads whole plain frames from a blocking socket through a buffer of its
// own: small frames cost one receive, large ones land in a buffer that grows
// to fit them once.

#include "bench/PlainFrame.h"

#include <cstddef>
#include <vector>

namespace tqbench {

class PlainFrameReader {
public:
    enum class Result { Ok, Closed, Bad };

    explicit PlainFrameReader(int fd) : fd_(fd), buffer_(kInitialBuffer) {}

    // The next frame; its bytes stay valid until the next call.
    Result Next(PlainFrame::Header* header, const unsigned char** frame);

private:
    static constexpr size_t kInitialBuffer = 64 * 1024;
    bool Fill(size_t need);

    int fd_;
    std::vector<unsigned char> buffer_;
    size_t begin_ = 0;
    size_t end_ = 0;
    size_t consumed_ = 0;  // length of the frame handed out last
};

} // namespace tqbench
