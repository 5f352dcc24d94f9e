#include "server/storage/container/Sha1.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr DWORD Rotl(DWORD x, unsigned n)
{
    return (x << n) | (x >> (32 - n));
}

} // namespace

CSha1::CSha1()
{
    Reset();
}

void CSha1::Reset()
{
    state_ = {0x67452301u, 0xEFCDAB89u, 0x98BADCFEu, 0x10325476u, 0xC3D2E1F0u};
    pendingSize_ = 0;
    totalBytes_ = 0;
}

void CSha1::Block(const BYTE* block)
{
    DWORD w[80];
    for (int t = 0; t < 16; ++t)
        w[t] = static_cast<DWORD>(block[4 * t]) << 24 | static_cast<DWORD>(block[4 * t + 1]) << 16 |
               static_cast<DWORD>(block[4 * t + 2]) << 8 | static_cast<DWORD>(block[4 * t + 3]);
    for (int t = 16; t < 80; ++t)
        w[t] = Rotl(w[t - 3] ^ w[t - 8] ^ w[t - 14] ^ w[t - 16], 1);

    DWORD a = state_[0], b = state_[1], c = state_[2], d = state_[3], e = state_[4];
    for (int t = 0; t < 80; ++t) {
        DWORD f, k;
        if (t < 20) {
            f = (b & c) | (~b & d);
            k = 0x5A827999u;
        } else if (t < 40) {
            f = b ^ c ^ d;
            k = 0x6ED9EBA1u;
        } else if (t < 60) {
            f = (b & c) | (b & d) | (c & d);
            k = 0x8F1BBCDCu;
        } else {
            f = b ^ c ^ d;
            k = 0xCA62C1D6u;
        }
        const DWORD next = Rotl(a, 5) + f + e + k + w[t];
        e = d;
        d = c;
        c = Rotl(b, 30);
        b = a;
        a = next;
    }
    state_[0] += a;
    state_[1] += b;
    state_[2] += c;
    state_[3] += d;
    state_[4] += e;
}

void CSha1::Update(const void* data, std::size_t size)
{
    const auto* in = static_cast<const BYTE*>(data);
    totalBytes_ += size;
    if (pendingSize_ > 0) {
        const std::size_t take = std::min(size, pending_.size() - pendingSize_);
        std::memcpy(pending_.data() + pendingSize_, in, take);
        pendingSize_ += take;
        in += take;
        size -= take;
        if (pendingSize_ < pending_.size())
            return;
        Block(pending_.data());
        pendingSize_ = 0;
    }
    for (; size >= pending_.size(); in += pending_.size(), size -= pending_.size())
        Block(in);
    if (size > 0)
        std::memcpy(pending_.data(), in, size);
    pendingSize_ = size;
}

CSha1::Digest CSha1::Final()
{
    const ULONGLONG bits = totalBytes_ * 8;
    // A one bit, zeros up to 56 bytes into a block, the message length in bits.
    BYTE tail[72] = {0x80};
    const std::size_t padding = pendingSize_ < 56 ? 56 - pendingSize_ : 120 - pendingSize_;
    for (int i = 0; i < 8; ++i)
        tail[padding + i] = static_cast<BYTE>(bits >> (56 - 8 * i));
    Update(tail, padding + 8);

    Digest digest;
    for (std::size_t i = 0; i < state_.size(); ++i)
        for (int j = 0; j < 4; ++j)
            digest[4 * i + j] = static_cast<BYTE>(state_[i] >> (24 - 8 * j));
    Reset();
    return digest;
}

CSha1::Digest CSha1::Of(const void* data, std::size_t size)
{
    CSha1 sha;
    sha.Update(data, size);
    return sha.Final();
}
