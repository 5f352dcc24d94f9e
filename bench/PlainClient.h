#pragma once
// A client of the plain server: one blocking connection on which it sends a
// request of a given length and waits for the reply of the length it asked.

#include "bench/PlainFrameReader.h"

#include <cstddef>
#include <memory>
#include <vector>

namespace tqbench {

class PlainClient {
public:
    PlainClient() = default;
    ~PlainClient();
    PlainClient(const PlainClient&) = delete;
    PlainClient& operator=(const PlainClient&) = delete;

    bool Connect(int port);
    void Close();
    // One request of requestLength bytes in all, answered by replyLength
    // bytes (both at least the header's 8); false when the connection fails
    // or the reply is not the one asked for.
    bool Call(size_t requestLength, size_t replyLength);

private:
    int fd_ = -1;
    std::unique_ptr<PlainFrameReader> reader_;
    std::vector<unsigned char> request_;
};

} // namespace tqbench
