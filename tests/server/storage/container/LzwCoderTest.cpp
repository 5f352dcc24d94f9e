#include "server/storage/container/LzwCoder.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<BYTE>;

Bytes Compress(const Bytes& in)
{
    CLzwCoder coder;
    std::unique_ptr<BYTE[]> out;
    const size_t n = coder.Compress(in.data(), in.size(), &out);
    return Bytes(out.get(), out.get() + n);
}

// The expansion, or nullopt-like failure flagged by ok.
Bytes Expand(const Bytes& in, bool* ok, size_t limit = CLzwCoder::kDefaultExpandLimit)
{
    CLzwCoder coder;
    std::unique_ptr<BYTE[]> out;
    const long long n = coder.Expand(in.data(), in.size(), &out, limit);
    *ok = n >= 0;
    if (n < 0) {
        EXPECT_EQ(out, nullptr);
        return {};
    }
    return Bytes(out.get(), out.get() + n);
}

Bytes Codes(std::initializer_list<DWORD> codes)
{
    Bytes bytes;
    for (DWORD c : codes) {
        bytes.push_back(static_cast<BYTE>(c >> 8));
        bytes.push_back(static_cast<BYTE>(c));
    }
    return bytes;
}

Bytes Text(const std::string& s)
{
    return Bytes(s.begin(), s.end());
}

void ExpectRoundTrip(const Bytes& in)
{
    const Bytes coded = Compress(in);
    ASSERT_GE(coded.size(), 4u);
    EXPECT_EQ(coded.size() % 2, 0u);
    EXPECT_EQ(Bytes(coded.end() - 4, coded.end()), Codes({0xFFFF, 0}));
    bool ok = false;
    const Bytes back = Expand(coded, &ok);
    ASSERT_TRUE(ok);
    EXPECT_TRUE(back == in) << in.size() << " bytes did not come back";
}

Bytes RandomBytes(size_t n, unsigned seed)
{
    std::mt19937 gen(seed);
    Bytes bytes(n);
    for (BYTE& b : bytes)
        b = static_cast<BYTE>(gen());
    return bytes;
}

TEST(LzwCoder, KnownCodeStreams)
{
    // One byte: its code, the end code, the padding code.
    EXPECT_EQ(Compress({'x'}), Codes({'x', 0xFFFF, 0}));
    // The fourth code is used before the expander has it in its dictionary.
    const Bytes abababa = Text("ABABABA");
    EXPECT_EQ(Compress(abababa), Codes({0x41, 0x42, 0x100, 0x102, 0xFFFF, 0}));
    bool ok = false;
    EXPECT_EQ(Expand(Codes({0x41, 0x42, 0x100, 0x102, 0xFFFF, 0}), &ok), abababa);
    EXPECT_TRUE(ok);
    // An empty input is the end code alone, and expands to nothing.
    EXPECT_EQ(Compress({}), Codes({0xFFFF, 0}));
    EXPECT_TRUE(Expand(Codes({0xFFFF, 0}), &ok).empty());
    EXPECT_TRUE(ok);
}

TEST(LzwCoder, RoundTripsOfEdgeSizesAndContents)
{
    ExpectRoundTrip({});
    ExpectRoundTrip({0});
    ExpectRoundTrip({0xFF});
    ExpectRoundTrip({0xFF, 0xFF});
    ExpectRoundTrip(Text("TOBEORNOTTOBEORTOBEORNOT"));
    ExpectRoundTrip(Bytes(100000, 'q'));
    ExpectRoundTrip(RandomBytes(5000, 1));
    Bytes allBytes;
    for (int i = 0; i < 256 * 3; ++i)
        allBytes.push_back(static_cast<BYTE>(i));
    ExpectRoundTrip(allBytes);
}

// Enough varied input to assign every code up to 0xFFFE; coding goes on with
// the fixed dictionary, and repeating the early input still finds its strings.
TEST(LzwCoder, FullDictionaryKeepsCodingWithoutReset)
{
    Bytes in = RandomBytes(400000, 7);
    const Bytes early(in.begin(), in.begin() + 20000);
    in.insert(in.end(), early.begin(), early.end());
    in.insert(in.end(), 3000, 'z');
    ExpectRoundTrip(in);

    // Every code but the last adds a string while there is room; more codes
    // than assignable ones means the dictionary filled up on the way.
    const size_t codes = Compress(in).size() / 2 - 2;
    EXPECT_GT(codes, static_cast<size_t>(CLzwCoder::kLastCode - CLzwCoder::kFirstCode + 2));
}

// About 8.4 million equal bytes make strings longer than 4094 bytes; they
// code and expand like any other.
TEST(LzwCoder, LongStringsExpand)
{
    ExpectRoundTrip(Bytes(8400000, 7));
}

TEST(LzwCoder, FirstCodeAboveByteRangeGivesItsLowByte)
{
    bool ok = false;
    EXPECT_EQ(Expand(Codes({0x1241, 0x42, 0xFFFF, 0}), &ok), Text("AB"));
    EXPECT_TRUE(ok);
}

// Damaged streams fail without reading past their end or growing without
// bound, and never end the process.
TEST(LzwCoder, DamagedStreamsFail)
{
    bool ok = true;
    Expand({}, &ok);
    EXPECT_FALSE(ok) << "empty input";
    Expand({0x00}, &ok);
    EXPECT_FALSE(ok) << "half a code";
    Expand(Codes({'a', 'b'}), &ok);
    EXPECT_FALSE(ok) << "no end code";
    Bytes odd = Codes({'a', 'b'});
    odd.push_back(0xFF);
    Expand(odd, &ok);
    EXPECT_FALSE(ok) << "end code cut in half";

    // Without the padding code the end code is still found.
    EXPECT_EQ(Expand(Codes({'a', 'b', 0xFFFF}), &ok), Text("ab"));
    EXPECT_TRUE(ok);

    // Code 0x101 used before it is assigned becomes its own prefix: a cycle
    // that the decode stack catches when the code is used once more.
    Expand(Codes({'a', 0x101, 0x101, 0x101, 0xFFFF, 0}), &ok);
    EXPECT_FALSE(ok) << "prefix cycle";
}

TEST(LzwCoder, ExpansionLimit)
{
    const Bytes coded = Compress(Bytes(1000, 'a'));
    bool ok = false;
    EXPECT_EQ(Expand(coded, &ok, 1000).size(), 1000u);
    EXPECT_TRUE(ok);
    Expand(coded, &ok, 999);
    EXPECT_FALSE(ok);
    Expand(Codes({'a', 0xFFFF, 0}), &ok, 0);
    EXPECT_FALSE(ok);
}

TEST(LzwCoder, SlotsAndProbes)
{
    CLzwCoder coder;
    coder.Reset();
    EXPECT_EQ(coder.Probes(), 0u);
    // A free table answers the home slot: (c << 8) XOR prefix.
    EXPECT_EQ(coder.FindSlot(0x41, 0x42), (0x42 << 8) ^ 0x41);
    EXPECT_EQ(coder.FindSlot(0, 0), 0);
    EXPECT_EQ(coder.Probes(), 2u);

    std::unique_ptr<BYTE[]> out;
    const Bytes in = Text("ABABABA");
    coder.Compress(in.data(), in.size(), &out);
    EXPECT_EQ(coder.Probes(), in.size() - 1) << "one lookup per byte after the first";
}

} // namespace
