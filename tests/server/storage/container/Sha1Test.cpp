#include "server/storage/container/Sha1.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

std::string Hex(const CSha1::Digest& d)
{
    std::string text;
    char two[3];
    for (BYTE b : d) {
        std::snprintf(two, sizeof two, "%02x", b);
        text += two;
    }
    return text;
}

std::string HexOf(const std::string& s)
{
    return Hex(CSha1::Of(s.data(), s.size()));
}

std::vector<BYTE> Pattern(size_t n)
{
    std::vector<BYTE> bytes(n);
    for (size_t i = 0; i < n; ++i)
        bytes[i] = static_cast<BYTE>(i * 7 + 3);
    return bytes;
}

TEST(Sha1, StandardVectors)
{
    EXPECT_EQ(HexOf("abc"), "a9993e364706816aba3e25717850c26c9cd0d89d");
    EXPECT_EQ(HexOf("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
              "84983e441c3bd26ebaae4aa1f95129e5e54670f1");
    EXPECT_EQ(HexOf(std::string(1000000, 'a')), "34aa973cd4c4daa4f61eeb2bdbad27316534016f");
    EXPECT_EQ(HexOf(""), "da39a3ee5e6b4b0d3255bfef95601890afd80709");
}

// Lengths around the block size, where the padding takes one or two blocks.
TEST(Sha1, PaddingBoundaries)
{
    const std::pair<size_t, const char*> expected[] = {
        {55, "ddf57317ef34bfee3b6df83d359098930eb278bc"},  {56, "a0d492bb0fc889d0eca3bc137066ab6f4f74f369"},
        {63, "c55856749bef509bdfe6bfebfc7bf4e793e82132"},  {64, "bede92be29c3874e1b54ddc77988d606fc857a8e"},
        {65, "b05a80522b053d6dc7e0a517d0e70212c7dad11f"},  {119, "504e27376a6e0f0dba8295b85cb25dc4dfa17d23"},
        {120, "82134b02fb3f702491be9bed581eeab59334acb2"},
    };
    for (const auto& [n, hex] : expected) {
        const std::vector<BYTE> data = Pattern(n);
        EXPECT_EQ(Hex(CSha1::Of(data.data(), data.size())), hex) << n << " bytes";
    }
}

// Pieces of every size give the digest of the whole, and Final starts afresh.
TEST(Sha1, PiecewiseUpdatesMatchOneUpdate)
{
    const std::vector<BYTE> data = Pattern(1000);
    const CSha1::Digest whole = CSha1::Of(data.data(), data.size());
    for (size_t piece : {1u, 3u, 55u, 63u, 64u, 65u, 200u}) {
        CSha1 sha;
        for (size_t at = 0; at < data.size(); at += piece)
            sha.Update(data.data() + at, std::min(piece, data.size() - at));
        EXPECT_EQ(sha.Final(), whole) << "pieces of " << piece;
        sha.Update("abc", 3);
        EXPECT_EQ(Hex(sha.Final()), "a9993e364706816aba3e25717850c26c9cd0d89d");
    }
}

} // namespace
