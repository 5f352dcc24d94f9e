#include "PduBuilder.h"

#include "platform/rpc/RpcCall.h"
#include "platform/rpc/RpcFragments.h"

#include <sys/uio.h>

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <span>
#include <vector>

using namespace rpctest;

namespace {

struct Sent {
    Bytes stream;
    int sends = 0;
    int largestBatch = 0;
};

// Fragments the stub with splices into a stream of response packets.
bool Fragment(const Bytes& stub, USHORT maxFragment, const std::vector<rpc::StubSplice>& splices, Sent& sent,
              std::span<BYTE> chunk = {})
{
    auto header = [](BYTE* out, BYTE flags, USHORT fragLength, ULONG allocHint) {
        rpc::PduHeader h = Header(rpc::PduType::Response, 3, flags);
        h.fragLength = fragLength;
        rpc::EncodeResponseHeader(out, h, allocHint, 0);
    };
    auto send = [&](const iovec* pieces, int count) {
        ++sent.sends;
        sent.largestBatch = std::max(sent.largestBatch, count);
        for (int i = 0; i < count; ++i) {
            const BYTE* p = static_cast<const BYTE*>(pieces[i].iov_base);
            sent.stream.insert(sent.stream.end(), p, p + pieces[i].iov_len);
        }
        return true;
    };
    return rpc::SendFragmented(stub, maxFragment, std::ref(header), std::ref(send), splices, chunk);
}

// Reads of a content, recorded; it runs short from `limit` on.
struct Reads {
    const Bytes* content;
    size_t limit = SIZE_MAX;
    std::vector<std::pair<size_t, size_t>> asked;

    rpc::StubSource Source()
    {
        return [this](size_t offset, BYTE* to, size_t length) {
            asked.push_back({offset, length});
            if (offset + length > std::min(limit, content->size()))
                return false;
            std::memcpy(to, content->data() + offset, length);
            return true;
        };
    }
};

// The stub data the packets carry, checking each fragment's framing.
Bytes Reassemble(const Bytes& stream, size_t maxFragment)
{
    Bytes back;
    const std::vector<Bytes> pdus = SplitPdus(stream);
    for (size_t i = 0; i < pdus.size(); ++i) {
        rpc::PduHeader h = rpc::DecodeHeader(pdus[i].data());
        rpc::ResponsePdu r;
        EXPECT_TRUE(rpc::ParseResponse(pdus[i], h, r));
        EXPECT_LE(h.fragLength, maxFragment);
        EXPECT_EQ((h.flags & rpc::PFC_FIRST_FRAG) != 0, i == 0);
        EXPECT_EQ((h.flags & rpc::PFC_LAST_FRAG) != 0, i + 1 == pdus.size());
        EXPECT_TRUE(i + 1 == pdus.size() || r.stub.size() % 8 == 0);
        back.insert(back.end(), r.stub.begin(), r.stub.end());
    }
    return back;
}

} // namespace

TEST(RpcFragments, SplicedBytesReplaceTheStubsOwnWhereverFragmentsEnd)
{
    // The stub holds 0xEE where spliced bytes go: any of it on the wire
    // means the stub was read there.
    Bytes stub(200000, 0xEE), expected(200000);
    for (size_t i = 0; i < stub.size(); ++i)
        expected[i] = BYTE(i * 7 + 1);
    std::vector<rpc::StubSplice> splices;
    // One before the first fragment ends, one across several fragments, one
    // touching the next, one at the very end.
    for (auto [from, to] : std::vector<std::pair<size_t, size_t>>{
             {100, 5000}, {5000, 5001}, {20000, 150001}, {199990, 200000}})
        splices.push_back({from, to - from, expected.data() + from});
    for (size_t i = 0; i < stub.size(); ++i) {
        bool spliced = false;
        for (const auto& s : splices)
            spliced |= i >= s.offset && i < s.offset + s.length;
        if (!spliced)
            stub[i] = expected[i];
    }
    for (USHORT maxFragment : {USHORT(5840), USHORT(0xFFFF), USHORT(64)}) {
        Sent sent;
        ASSERT_TRUE(Fragment(stub, maxFragment, splices, sent));
        EXPECT_EQ(Reassemble(sent.stream, maxFragment), expected) << maxFragment;
    }
}

TEST(RpcFragments, ManySplicesAreSentInBatchesThatMayEndInsideAFragment)
{
    // 400 small splices in one fragment need more pieces than one send
    // takes; the stream is the same.
    Bytes expected(8000);
    for (size_t i = 0; i < expected.size(); ++i)
        expected[i] = BYTE(i % 251);
    Bytes stub = expected;
    std::vector<rpc::StubSplice> splices;
    for (size_t at = 10; at + 3 < expected.size() && splices.size() < 400; at += 19) {
        std::memset(stub.data() + at, 0xEE, 3);
        splices.push_back({at, 3, expected.data() + at});
    }
    Sent sent;
    ASSERT_TRUE(Fragment(stub, 0xFFFF, splices, sent));
    EXPECT_GT(sent.sends, 1);
    EXPECT_LE(sent.largestBatch, 1024);
    EXPECT_EQ(Reassemble(sent.stream, 0xFFFF), expected);

    // A small stub without splices is still one fragment in one send.
    Sent one;
    ASSERT_TRUE(Fragment(Bytes(100, 1), 5840, {}, one));
    EXPECT_EQ(one.sends, 1);
    EXPECT_EQ(Reassemble(one.stream, 5840), Bytes(100, 1));
}

TEST(RpcCallSplices, RangesMustLieInTheReplyInOrder)
{
    RpcConnectionInfo info;
    CRpcBuffer reply;
    reply.Append("0123456789abcdef", 16);
    RpcReplySplices splices;
    CRpcCall call(info, {}, 1, 1, {}, {}, reply, &splices);
    auto block = [](const char* text) {
        auto data = std::make_unique<BYTE[]>(std::strlen(text));
        std::memcpy(data.get(), text, std::strlen(text));
        return data;
    };
    EXPECT_TRUE(call.SpliceReply(4, block("XYZ"), 3));
    EXPECT_FALSE(call.SpliceReply(5, block("Q"), 1));      // overlaps the one before
    EXPECT_FALSE(call.SpliceReply(14, block("QRS"), 3));   // past the reply's end
    EXPECT_FALSE(call.SpliceReply(20, block("Q"), 1));
    EXPECT_FALSE(call.SpliceReply(8, std::unique_ptr<BYTE[]>(), 2));
    EXPECT_TRUE(call.SpliceReply(9, block(""), 0));        // nothing to splice
    EXPECT_TRUE(call.SpliceReply(13, block("QRS"), 3));    // up to the end
    ASSERT_EQ(splices.pieces.size(), 2u);
    EXPECT_EQ(splices.pieces[0].offset, 4u);
    EXPECT_EQ(std::memcmp(splices.pieces[1].data, "QRS", 3), 0);
    EXPECT_EQ(splices.blocks.size(), 2u);
    // The reply's own bytes are untouched.
    EXPECT_EQ(std::memcmp(reply.Data(), "0123456789abcdef", 16), 0);
    call.DiscardReply();
    EXPECT_TRUE(reply.Empty());
    EXPECT_TRUE(splices.pieces.empty());
    EXPECT_TRUE(splices.blocks.empty());

    // A call without room for splices copies the bytes in.
    reply.Append("0123456789", 10);
    CRpcCall plain(info, {}, 1, 1, {}, {}, reply);
    EXPECT_TRUE(plain.SpliceReply(2, block("ab"), 2));
    EXPECT_EQ(std::memcmp(reply.Data(), "01ab456789", 10), 0);
}

// A splice read from a source as it is sent puts exactly the bytes on the
// wire that the same content sent from a block (or from the stub itself)
// does, wherever chunks and fragments end; each byte is read once, in order,
// a buffer's worth at most at a time.
TEST(RpcFragments, SourcedSplicesSendTheSameStreamAsBlocks)
{
    constexpr size_t kChunk = 4096;
    std::vector<BYTE> buffer(kChunk);
    const size_t sizes[] = {1, kChunk - 1, kChunk, kChunk + 1, 5 * kChunk + 3, rpc::kSourceChunk + 1, 3u << 20};
    for (size_t size : sizes) {
        Bytes content(size);
        for (size_t i = 0; i < size; ++i)
            content[i] = BYTE(i * 7 + i / 4099);
        // A record's head before the item and a word after it, as a reply has.
        const size_t at = 52;
        Bytes whole(at, 0x11);
        whole.insert(whole.end(), content.begin(), content.end());
        whole.insert(whole.end(), {1, 2, 3, 4});
        Bytes stub = whole;
        std::memset(stub.data() + at, 0xEE, size);
        for (USHORT maxFragment : {USHORT(5840), USHORT(0xFFFF)}) {
            Sent plain, blocked, sourced;
            ASSERT_TRUE(Fragment(whole, maxFragment, {}, plain));
            ASSERT_TRUE(Fragment(stub, maxFragment, {{at, size, content.data()}}, blocked));
            Reads reads{&content};
            // The small buffer here, and the sender's own below.
            const bool small = size < rpc::kSourceChunk;
            ASSERT_TRUE(Fragment(stub, maxFragment, {{at, size, nullptr, reads.Source()}}, sourced,
                                 small ? std::span<BYTE>(buffer) : std::span<BYTE>()));
            EXPECT_EQ(sourced.stream, plain.stream) << size << " " << maxFragment;
            EXPECT_EQ(blocked.stream, plain.stream) << size << " " << maxFragment;
            size_t next = 0;
            for (auto [offset, length] : reads.asked) {
                EXPECT_EQ(offset, next);
                EXPECT_LE(length, small ? kChunk : rpc::kSourceChunk);
                next = offset + length;
            }
            EXPECT_EQ(next, size);
        }
    }
}

// A source that runs short stops the stream before anything of the chunk it
// could not fill: what went out is a true prefix of the message.
TEST(RpcFragments, ASourceThatRunsShortStopsTheStream)
{
    constexpr size_t kChunk = 8192;
    std::vector<BYTE> buffer(kChunk, 0xCC);
    Bytes content(100000);
    for (size_t i = 0; i < content.size(); ++i)
        content[i] = BYTE(i * 13 + 5);
    Bytes whole(16, 0x22);
    whole.insert(whole.end(), content.begin(), content.end());
    Bytes stub(16, 0x22);
    stub.resize(whole.size(), 0xEE);
    Sent plain, cut;
    ASSERT_TRUE(Fragment(whole, 5840, {}, plain));
    Reads reads{&content, 50000};
    EXPECT_FALSE(Fragment(stub, 5840, {{16, content.size(), nullptr, reads.Source()}}, cut, buffer));
    ASSERT_LE(cut.stream.size(), plain.stream.size());
    EXPECT_TRUE(std::equal(cut.stream.begin(), cut.stream.end(), plain.stream.begin()));
    // Everything up to the last whole chunk before the limit went out.
    EXPECT_GE(cut.stream.size(), 16 + 50000 / kChunk * kChunk);
    EXPECT_LT(cut.stream.size(), 16 + 50000 + 24 * 10);
    EXPECT_EQ(reads.asked.back().first, 50000 / kChunk * kChunk);
}

TEST(RpcCallSplices, SourcedRangesAreKeptOrReadInAtOnce)
{
    RpcConnectionInfo info;
    CRpcBuffer reply;
    reply.Append("0123456789abcdef", 16);
    const Bytes content = {'X', 'Y', 'Z', 'W'};
    Reads reads{&content};
    {
        RpcReplySplices splices;
        CRpcCall call(info, {}, 1, 1, {}, {}, reply, &splices);
        EXPECT_TRUE(call.SpliceReply(2, reads.Source(), 4));
        EXPECT_FALSE(call.SpliceReply(4, reads.Source(), 1));            // overlaps
        EXPECT_FALSE(call.SpliceReply(10, rpc::StubSource(), 1));        // no source
        EXPECT_FALSE(call.SpliceReply(14, reads.Source(), 3));           // past the end
        ASSERT_EQ(splices.pieces.size(), 1u);
        EXPECT_TRUE(reads.asked.empty()); // read only when sent
        EXPECT_EQ(std::memcmp(reply.Data(), "0123456789abcdef", 16), 0);
    }
    // Without splices the bytes are read in, and a source that runs short
    // fails the splice.
    CRpcCall plain(info, {}, 1, 1, {}, {}, reply);
    EXPECT_TRUE(plain.SpliceReply(2, reads.Source(), 4));
    EXPECT_EQ(std::memcmp(reply.Data(), "01XYZW6789abcdef", 16), 0);
    reads.limit = 2;
    EXPECT_FALSE(plain.SpliceReply(8, reads.Source(), 4));
}
