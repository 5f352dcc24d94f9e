#include "common/callrecord/InvokeData.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

std::vector<BYTE> Encode(const CInvokeData& r, DWORD mode)
{
    std::vector<BYTE> buf(r.GetEncodedSize(mode));
    LONG n = r.Encode(buf.data(), static_cast<LONG>(buf.size()), mode);
    EXPECT_EQ(n, static_cast<LONG>(buf.size()));
    return buf;
}

DWORD DwordAt(const std::vector<BYTE>& b, size_t at)
{
    return DWORD(b[at]) | (DWORD(b[at + 1]) << 8) | (DWORD(b[at + 2]) << 16) | (DWORD(b[at + 3]) << 24);
}

GUID SampleGuid()
{
    GUID g{};
    UuidFromString("0f1e2d3c-4b5a-6978-8796-a5b4c3d2e1f0", &g);
    return g;
}

// An item's bytes made on demand; short of them when the content is shorter
// than the item, and counted when let go.
class VectorSource : public IInvokeItemSource {
public:
    VectorSource(std::vector<BYTE> content, int* released) : content_(std::move(content)), released_(released) {}
    ~VectorSource() override { ++*released_; }
    bool Read(size_t offset, BYTE* to, size_t length) override
    {
        if (offset > content_.size() || length > content_.size() - offset)
            return false;
        std::memcpy(to, content_.data() + offset, length);
        return true;
    }

private:
    std::vector<BYTE> content_;
    int* released_;
};

std::vector<BYTE> Pattern(size_t size, unsigned seed)
{
    std::vector<BYTE> bytes(size);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = BYTE((i * 131 + seed) >> 3);
    return bytes;
}

} // namespace

TEST(InvokeDataSize, EmptyRecordSizesPerMode)
{
    CInvokeData r(42);
    EXPECT_EQ(r.result, E_FAIL);
    EXPECT_EQ(r.callerGuid, GUID_NULL);
    EXPECT_EQ(r.GetEncodedSize(InvokeModeRequest), 36u);
    EXPECT_EQ(r.GetEncodedSize(InvokeModeReply), 40u);
    EXPECT_EQ(r.GetEncodedSize(InvokeModeBoth), 40u);
    EXPECT_EQ(r.GetEncodedSize(7), 36u);
}

TEST(InvokeDataSize, StringItemCountsItsNul)
{
    CInvokeData r(1);
    r.PushInString("abc");
    ASSERT_EQ(r.InItems().size(), 1u);
    EXPECT_EQ(r.InItems().front().length, 4u);
    EXPECT_EQ(r.InItems().front().data[3], 0);
    EXPECT_EQ(r.GetEncodedSize(InvokeModeRequest), 36u + 12u);
    // A null text is a 0-length item.
    r.PushInString(nullptr);
    EXPECT_EQ(r.InItems().back().length, 0u);
    EXPECT_EQ(r.GetEncodedSize(InvokeModeRequest), 36u + 12u + 8u);
}

TEST(InvokeDataEncode, LayoutIsLittleEndianWithLengthBeforeType)
{
    CInvokeData r(0x01020304);
    r.reserved = 0xAABBCCDD;
    r.callerGuid = SampleGuid();
    r.PushInDword(0x11223344);
    r.result = static_cast<HRESULT>(0x80070002u);
    r.PushOutString("hi");
    auto b = Encode(r, InvokeModeBoth);
    EXPECT_EQ(DwordAt(b, 0), 0x01020304u);
    EXPECT_EQ(DwordAt(b, 4), 2u);
    EXPECT_EQ(DwordAt(b, 8), 0xAABBCCDDu);
    EXPECT_EQ(b[12], 0x3c); // GUID Data1 low byte first
    EXPECT_EQ(b[15], 0x0f);
    EXPECT_EQ(b[20], 0x87); // Data4 in order
    EXPECT_EQ(DwordAt(b, 28), 1u);
    EXPECT_EQ(DwordAt(b, 32), 1u);
    EXPECT_EQ(DwordAt(b, 36), 4u); // length
    EXPECT_EQ(DwordAt(b, 40), 0u); // type DWORD
    EXPECT_EQ(DwordAt(b, 44), 0x11223344u);
    EXPECT_EQ(DwordAt(b, 48), 0x80070002u); // result after the in-items
    EXPECT_EQ(DwordAt(b, 52), 3u);
    EXPECT_EQ(DwordAt(b, 56), 2u);
    EXPECT_EQ(std::memcmp(&b[60], "hi", 3), 0);
    EXPECT_EQ(b.size(), 63u);
}

TEST(InvokeDataEncode, ModesLeaveTheOtherQueueOut)
{
    CInvokeData r(5);
    r.PushInDword(1);
    r.PushOutDword(2);
    r.PushOutDword(3);
    auto reply = Encode(r, InvokeModeReply);
    EXPECT_EQ(DwordAt(reply, 28), 0u);
    EXPECT_EQ(DwordAt(reply, 32), 2u);
    EXPECT_EQ(reply.size(), 40u + 24u);
    auto request = Encode(r, InvokeModeRequest);
    EXPECT_EQ(DwordAt(request, 28), 1u);
    EXPECT_EQ(DwordAt(request, 32), 0u);
    EXPECT_EQ(request.size(), 36u + 12u);
    // An unknown mode writes the header alone with both counts 0.
    std::vector<BYTE> other(36, 0xEE);
    EXPECT_EQ(r.Encode(other.data(), 36, 9), 36);
    EXPECT_EQ(DwordAt(other, 4), 9u);
    EXPECT_EQ(DwordAt(other, 28), 0u);
    EXPECT_EQ(DwordAt(other, 32), 0u);
}

TEST(InvokeDataEncode, ShortBufferIsRefusedUntouched)
{
    CInvokeData r(5);
    r.PushInString("abc");
    std::vector<BYTE> buf(r.GetEncodedSize(InvokeModeRequest) - 1, 0x5A);
    EXPECT_EQ(r.Encode(buf.data(), static_cast<LONG>(buf.size()), InvokeModeRequest), E_OUTOFMEMORY);
    for (BYTE b : buf)
        ASSERT_EQ(b, 0x5A);
    EXPECT_EQ(r.Encode(buf.data(), -1, InvokeModeRequest), E_OUTOFMEMORY);
}

TEST(InvokeDataRoundTrip, EveryModeGivesBackWhatItCarries)
{
    CInvokeData r(2017);
    r.callerGuid = SampleGuid();
    r.reserved = 77;
    r.result = static_cast<HRESULT>(0x80004004u);
    r.PushInString("user");
    r.PushInDword(9);
    r.PushInBytes("\x00\x01\x02", 3);
    r.PushOutLong(-5);
    r.PushOutBytes(nullptr, 10);
    r.PushOutString("done");

    for (DWORD mode : {InvokeModeRequest, InvokeModeReply, InvokeModeBoth}) {
        auto blob = Encode(r, mode);
        CInvokeData d;
        ASSERT_TRUE(d.Decode(blob.data(), blob.size())) << mode;
        EXPECT_EQ(d.functionCode, 2017u);
        EXPECT_EQ(d.reserved, 77u);
        EXPECT_EQ(d.callerGuid, r.callerGuid);
        const bool in = mode != InvokeModeReply, out = mode != InvokeModeRequest;
        EXPECT_EQ(d.result, out ? r.result : E_FAIL);
        ASSERT_EQ(d.InCount(), in ? 3u : 0u);
        ASSERT_EQ(d.OutCount(), out ? 3u : 0u);
        if (in) {
            char text[260];
            DWORD v = 0;
            BYTE* bytes = nullptr;
            DWORD len = 0;
            EXPECT_EQ(d.PopString(text, sizeof text), 2);
            EXPECT_STREQ(text, "user");
            EXPECT_EQ(d.PopDword(&v), 1);
            EXPECT_EQ(v, 9u);
            EXPECT_EQ(d.PopBytes(&bytes, &len), 0);
            ASSERT_EQ(len, 3u);
            EXPECT_EQ(bytes[2], 2);
            delete[] bytes;
        }
        if (out) {
            LONG v = 0;
            EXPECT_EQ(d.PopOutInt(&v), 2);
            EXPECT_EQ(v, -5);
            EXPECT_EQ(d.OutItems().front().length, 0u);
            EXPECT_EQ(d.OutItems().front().type, static_cast<DWORD>(InvokeItemBytes));
        }
        // Re-encoding the decoded record reproduces the blob.
        CInvokeData again;
        ASSERT_TRUE(again.Decode(blob.data(), blob.size()));
        EXPECT_EQ(Encode(again, mode), blob);
    }
}

TEST(InvokeDataPop, EmptyQueueClearsTargets)
{
    CInvokeData r;
    char text[8];
    std::memset(text, 'x', sizeof text);
    EXPECT_EQ(r.PopString(text, sizeof text), -1);
    for (char c : text)
        EXPECT_EQ(c, 0);
    BYTE buf[4] = {1, 2, 3, 4};
    EXPECT_EQ(r.PopBuffer(buf, sizeof buf), -1);
    EXPECT_EQ(buf[0] | buf[1] | buf[2] | buf[3], 0);
    DWORD d = 5;
    EXPECT_EQ(r.PopDword(&d), -1);
    EXPECT_EQ(d, 0u);
    LONG i = 5;
    EXPECT_EQ(r.PopInt(&i), -1);
    EXPECT_EQ(i, 0);
    BYTE* p = reinterpret_cast<BYTE*>(&d);
    DWORD len = 9;
    EXPECT_EQ(r.PopBytes(&p, &len), -1);
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(len, 0u);
}

TEST(InvokeDataPop, CopyRulesCutAndPad)
{
    CInvokeData r;
    std::string longText(299, 'a');
    r.PushInString(longText.c_str()); // 300 bytes with the NUL
    char name[260];
    r.PopString(name, sizeof name);
    EXPECT_EQ(std::strlen(name), 259u);

    // An item shorter than 4 bytes reads with zero high bytes; any type will do.
    r.PushInBytes("\x34\x12", 2);
    LONG v = -1;
    r.PopInt(&v);
    EXPECT_EQ(v, 0x1234);

    // PopBuffer copies min(length, size) and leaves the rest; 0-length leaves all.
    r.PushInBytes("ABCDEF", 6);
    BYTE small[4] = {};
    r.PopBuffer(small, sizeof small);
    EXPECT_EQ(std::memcmp(small, "ABCD", 4), 0);
    r.PushInBytes(nullptr, 0);
    r.PopBuffer(small, sizeof small);
    EXPECT_EQ(std::memcmp(small, "ABCD", 4), 0);

    // A 0-length item pops as an empty text and as a null pointer.
    r.PushInString(nullptr);
    r.PopString(name, sizeof name);
    EXPECT_STREQ(name, "");
    r.PushInBytes(nullptr, 0);
    BYTE* p = reinterpret_cast<BYTE*>(1);
    DWORD len = 1;
    r.PopBytes(&p, &len);
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(len, 0u);

    // A text item without a NUL still ends NUL-terminated.
    r.PushInBytes("xyz", 3);
    r.PopString(name, sizeof name);
    EXPECT_STREQ(name, "xyz");
}

TEST(InvokeDataPop, PoppedBytesAreTheCallersToKeepAfterTheRecordIsGone)
{
    BYTE* bytes = nullptr;
    DWORD length = 0;
    {
        CInvokeData r;
        const std::string blob("\0\1two\0three", 10);
        r.PushInBytes(blob.data(), static_cast<DWORD>(blob.size()));
        r.PushInBytes("next", 4);
        EXPECT_EQ(r.PopBytes(&bytes, &length), 1);
        ASSERT_NE(bytes, nullptr);
        EXPECT_EQ(std::string(reinterpret_cast<char*>(bytes), length), blob);
        // The item after it is untouched, and a pop without a target frees its bytes.
        EXPECT_EQ(r.PopBytes(nullptr, nullptr), 0);
        EXPECT_EQ(r.InCount(), 0u);
    }
    // The record is gone; the popped bytes are still whole.
    EXPECT_EQ(std::memcmp(bytes, "\0\1two", 5), 0);
    delete[] bytes;
}

TEST(InvokeDataPush, AdoptedBytesEncodeLikeCopiedOnes)
{
    CInvokeData copied, adopted;
    copied.result = adopted.result = S_OK;
    copied.PushOutBytes("payload", 7);
    BYTE* buffer = new BYTE[7];
    std::memcpy(buffer, "payload", 7);
    EXPECT_EQ(adopted.AdoptOutBytes(buffer, 7), 1u);
    // A buffer larger than the length given: only length bytes count.
    BYTE* larger = new BYTE[100]();
    std::memcpy(larger, "ab", 2);
    copied.PushOutBytes("ab", 2);
    EXPECT_EQ(adopted.AdoptOutBytes(larger, 2), 2u);
    // Nothing, or a buffer with length 0, is an empty item (the buffer is freed).
    copied.PushOutBytes(nullptr, 0);
    copied.PushOutBytes(nullptr, 0);
    adopted.AdoptOutBytes(nullptr, 5);
    adopted.AdoptOutBytes(new BYTE[3], 0);
    EXPECT_EQ(Encode(adopted, InvokeModeReply), Encode(copied, InvokeModeReply));

    BYTE* back = nullptr;
    DWORD length = 0;
    EXPECT_EQ(adopted.PopOutBytes(&back, &length), 3);
    EXPECT_EQ(length, 7u);
    EXPECT_EQ(std::memcmp(back, "payload", 7), 0);
    delete[] back;
    EXPECT_EQ(adopted.OutItems().back().length, 0u);
}

TEST(InvokeDataDecode, MalformedBlobsFailAndLeaveNoItems)
{
    CInvokeData good(7);
    good.PushInString("abc");
    good.PushInDword(1);
    auto blob = Encode(good, InvokeModeRequest);

    CInvokeData r(99);
    r.PushInDword(1);
    r.PushOutDword(2);
    r.result = S_FALSE;
    // Shorter than the header, and each cut inside the items.
    for (size_t cut = 0; cut < blob.size(); ++cut) {
        r.PushInDword(1);
        EXPECT_FALSE(r.Decode(blob.data(), cut)) << cut;
        EXPECT_EQ(r.InCount(), 0u);
        EXPECT_EQ(r.OutCount(), 0u);
        EXPECT_EQ(r.functionCode, 99u);
        EXPECT_EQ(r.result, S_FALSE);
    }
    EXPECT_FALSE(r.Decode(nullptr, 100));

    // A count that promises more items than the blob holds.
    auto more = blob;
    more[28] = 3;
    EXPECT_FALSE(r.Decode(more.data(), more.size()));
    EXPECT_EQ(r.InCount(), 0u);

    // A huge item length fails without allocating it.
    auto huge = blob;
    huge[36] = 0xFF;
    huge[37] = 0xFF;
    huge[38] = 0xFF;
    huge[39] = 0x7F;
    EXPECT_FALSE(r.Decode(huge.data(), huge.size()));
    huge[39] = 0x80;
    EXPECT_FALSE(r.Decode(huge.data(), huge.size()));

    // A reply without room for its result.
    std::vector<BYTE> replyHead(36, 0);
    replyHead[4] = 1;
    EXPECT_FALSE(r.Decode(replyHead.data(), replyHead.size()));

    // A negative count means no items; an unknown mode keeps only the header.
    auto negative = blob;
    negative[31] = 0x80;
    ASSERT_TRUE(r.Decode(negative.data(), negative.size()));
    EXPECT_EQ(r.InCount(), 0u);
    EXPECT_EQ(r.functionCode, 7u);
    auto unknown = blob;
    unknown[4] = 5;
    ASSERT_TRUE(r.Decode(unknown.data(), unknown.size()));
    EXPECT_EQ(r.InCount(), 0u);
}

TEST(InvokeDataDecode, RequestLeavesResultAsItWas)
{
    CInvokeData req(3);
    req.result = S_OK;
    auto blob = Encode(req, InvokeModeRequest);
    CInvokeData r;
    ASSERT_TRUE(r.Decode(blob.data(), blob.size()));
    EXPECT_EQ(r.result, E_FAIL);
}

TEST(InvokeDataGuid, TextFormOfCaller)
{
    CInvokeData r;
    EXPECT_EQ(GetCallerGuidText(r), "00000000-0000-0000-0000-000000000000");
    r.callerGuid = SampleGuid();
    EXPECT_EQ(GetCallerGuidText(r), "0f1e2d3c-4b5a-6978-8796-a5b4c3d2e1f0");
}

TEST(InvokeDataDecode, ItemCountIsBounded)
{
    // Empty items cost 8 bytes each on the wire; more than the bound in one
    // queue fails at once, the bound itself decodes.
    for (DWORD count : {CInvokeData::kMaxDecodedItems, CInvokeData::kMaxDecodedItems + 1}) {
        std::vector<BYTE> blob(36 + size_t(count) * 8, 0);
        blob[28] = BYTE(count);
        blob[29] = BYTE(count >> 8);
        blob[30] = BYTE(count >> 16);
        CInvokeData r;
        EXPECT_EQ(r.Decode(blob.data(), blob.size()), count == CInvokeData::kMaxDecodedItems) << count;
        EXPECT_EQ(r.InCount(), count == CInvokeData::kMaxDecodedItems ? count : 0u);
    }
}

TEST(InvokeDataDecode, SmallAndLargeItemsPopAlikeAndOutliveTheRecord)
{
    const std::string large(100000, 'x');
    CInvokeData source(3);
    source.PushInString("small");
    source.PushInBytes(large.data(), static_cast<DWORD>(large.size()));
    source.PushInBytes(nullptr, 0);
    source.PushInDword(42);
    source.PushOutString("out");
    auto blob = Encode(source, InvokeModeBoth);

    BYTE* small = nullptr;
    BYTE* big = nullptr;
    DWORD smallLength = 0, bigLength = 0, empty = 7, value = 0;
    char out[8] = {};
    {
        CInvokeData r;
        ASSERT_TRUE(r.Decode(blob.data(), blob.size()));
        // Decoding again replaces the items and frees the old ones.
        ASSERT_TRUE(r.Decode(blob.data(), blob.size()));
        EXPECT_EQ(r.PopBytes(&small, &smallLength), 3);
        EXPECT_EQ(r.PopBytes(&big, &bigLength), 2);
        BYTE* none = nullptr;
        EXPECT_EQ(r.PopBytes(&none, &empty), 1);
        EXPECT_EQ(none, nullptr);
        EXPECT_EQ(r.PopDword(&value), 0);
        EXPECT_EQ(r.PopOutString(out, sizeof out), 0);
        // Pushes after the last pop live on their own.
        r.PushOutBytes("tail", 4);
    }
    EXPECT_EQ(std::string(reinterpret_cast<char*>(small), smallLength), std::string("small", 6));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(big), bigLength), large);
    EXPECT_EQ(empty, 0u);
    EXPECT_EQ(value, 42u);
    EXPECT_STREQ(out, "out");
    delete[] small;
    delete[] big;
}

TEST(InvokeDataPush, ManySmallItemsKeepTheirBytesWhereverTheyLive)
{
    // Small items are carved from the record's own bytes until those run out;
    // every item reads back the same either way, popped in turn or all at
    // once, and the record's bytes are reused once both queues are empty.
    CInvokeData r(3);
    for (int round = 0; round < 3; ++round) {
        for (DWORD i = 0; i < 40; ++i) {
            r.PushInDword(i * 7 + DWORD(round));
            r.PushOutString(std::string(i % 17, char('a' + i % 26)).c_str());
        }
        auto blob = Encode(r, InvokeModeBoth);
        CInvokeData d;
        ASSERT_TRUE(d.Decode(blob.data(), blob.size()));
        EXPECT_EQ(Encode(d, InvokeModeBoth), blob);
        for (DWORD i = 0; i < 40; ++i) {
            DWORD v = 0;
            char text[32];
            EXPECT_EQ(r.PopDword(&v), LONG(39 - i));
            EXPECT_EQ(v, i * 7 + DWORD(round));
            EXPECT_EQ(d.PopOutString(text, sizeof text), LONG(39 - i));
            EXPECT_EQ(std::string(text), std::string(i % 17, char('a' + i % 26)));
            r.PopOutString(text, sizeof text);
        }
        EXPECT_EQ(r.InCount() + r.OutCount(), 0u);
    }
}

TEST(InvokeDataEncode, SeparatedItemsLeaveTheirPlaceToBeFilledFromTheirOwnBuffers)
{
    CInvokeData r(2019);
    r.callerGuid = SampleGuid();
    r.result = S_OK;
    r.PushOutDword(5);
    std::vector<BYTE> large(CInvokeData::kSeparateFrom + 3);
    for (size_t i = 0; i < large.size(); ++i)
        large[i] = BYTE(i * 13);
    r.PushOutBytes(large.data(), static_cast<DWORD>(large.size()));
    std::vector<BYTE> small(CInvokeData::kSeparateFrom - 1, 0x42);
    r.PushOutBytes(small.data(), static_cast<DWORD>(small.size()));
    BYTE* adopted = new BYTE[CInvokeData::kSeparateFrom];
    std::memset(adopted, 0x17, CInvokeData::kSeparateFrom);
    r.AdoptOutBytes(adopted, CInvokeData::kSeparateFrom);
    r.PushInDword(1); // not part of a reply
    const std::vector<BYTE> whole = Encode(r, InvokeModeReply);

    std::vector<BYTE> block(whole.size(), 0xEE);
    struct Taken {
        size_t offset;
        std::unique_ptr<BYTE[]> data;
        DWORD length;
    };
    std::vector<Taken> taken;
    EXPECT_EQ(r.EncodeReplySeparating(block.data(), static_cast<LONG>(block.size()),
                                      [&](size_t offset, std::unique_ptr<BYTE[]> data,
                                          std::unique_ptr<IInvokeItemSource> source, DWORD length) {
                                          EXPECT_EQ(source, nullptr);
                                          taken.push_back({offset, std::move(data), length});
                                      }),
              static_cast<LONG>(whole.size()));
    ASSERT_EQ(taken.size(), 2u);
    EXPECT_EQ(taken[0].length, large.size());
    EXPECT_EQ(taken[1].length, CInvokeData::kSeparateFrom);
    EXPECT_EQ(taken[1].data.get(), adopted); // handed over, not copied
    // The places left are exactly the items' bytes; the rest is as Encode wrote it.
    for (const Taken& t : taken) {
        for (size_t i = 0; i < t.length; ++i)
            ASSERT_EQ(block[t.offset + i], 0xEE);
        std::memcpy(block.data() + t.offset, t.data.get(), t.length);
    }
    EXPECT_EQ(block, whole);
    // The items are left empty; the record still frees what it holds.
    EXPECT_EQ(r.OutItems()[1].length, 0u);
    EXPECT_EQ(r.OutItems()[2].length, small.size());

    std::vector<BYTE> tooSmall(r.GetEncodedSize(InvokeModeReply) - 1);
    EXPECT_EQ(r.EncodeReplySeparating(tooSmall.data(), static_cast<LONG>(tooSmall.size()),
                                      [](size_t, std::unique_ptr<BYTE[]>, std::unique_ptr<IInvokeItemSource>,
                                         DWORD) { FAIL(); }),
              E_OUTOFMEMORY);
}

TEST(InvokeDataDecode, BorrowedLargeItemsStayInTheBlobAndPopAsCopies)
{
    const std::string first(CInvokeData::kOwnBufferFrom, 'a');
    const std::string second(50000, 'b');
    CInvokeData source(1011);
    source.PushInString("name");
    source.PushInBytes(first.data(), static_cast<DWORD>(first.size()));
    source.PushInBytes(second.data(), static_cast<DWORD>(second.size()));
    source.PushInBytes("tiny", 4);
    source.PushOutBytes(second.data(), static_cast<DWORD>(second.size()));
    auto blob = Encode(source, InvokeModeBoth);
    const BYTE* begin = blob.data();
    const BYTE* end = blob.data() + blob.size();

    BYTE* copied = nullptr;
    BYTE* tiny = nullptr;
    DWORD copiedLength = 0, tinyLength = 0;
    {
        CInvokeData r;
        ASSERT_TRUE(r.Decode(blob.data(), blob.size(), true));
        char name[8] = {};
        r.PopString(name, sizeof name);
        EXPECT_STREQ(name, "name");

        // A peek shows the item where it lies in the blob.
        const BYTE* seen = nullptr;
        DWORD seenLength = 0;
        ASSERT_TRUE(r.PeekBytes(&seen, &seenLength));
        EXPECT_EQ(seenLength, first.size());
        EXPECT_TRUE(seen >= begin && seen + seenLength <= end);
        EXPECT_EQ(std::memcmp(seen, first.data(), first.size()), 0);
        // Popped without a target, a borrowed item frees nothing.
        EXPECT_EQ(r.PopBytes(nullptr, nullptr), 2);

        // Popped with one, the caller gets its own copy to free.
        EXPECT_EQ(r.PopBytes(&copied, &copiedLength), 1);
        EXPECT_TRUE(copied < begin || copied >= end);
        EXPECT_EQ(r.PopBytes(&tiny, &tinyLength), 0);

        // Encoding a reply out of borrowed out-items gives the same bytes.
        auto again = Encode(r, InvokeModeReply);
        auto expected = Encode(source, InvokeModeReply);
        EXPECT_EQ(again, expected);

        // A later decode without borrowing owns its items again; the record
        // is destroyed with items of both kinds left.
        ASSERT_TRUE(r.Decode(blob.data(), blob.size(), true));
        ASSERT_TRUE(r.Decode(blob.data(), blob.size()));
        ASSERT_TRUE(r.PeekBytes(&seen, &seenLength));
        EXPECT_EQ(seenLength, 5u);
        r.PopString(name, sizeof name);
        ASSERT_TRUE(r.PeekBytes(&seen, &seenLength));
        EXPECT_TRUE(seen < begin || seen >= end);
    }
    EXPECT_EQ(std::string(reinterpret_cast<char*>(copied), copiedLength), second);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(tiny), tinyLength), "tiny");
    delete[] copied;
    delete[] tiny;

    CInvokeData empty;
    const BYTE* none = reinterpret_cast<const BYTE*>(1);
    DWORD length = 9;
    EXPECT_FALSE(empty.PeekBytes(&none, &length));
    EXPECT_EQ(none, nullptr);
    EXPECT_EQ(length, 0u);
}

TEST(InvokeDataEncode, BorrowedItemsAreCopiedNotHandedOverWhenSeparating)
{
    CInvokeData source(7);
    const std::vector<BYTE> large(CInvokeData::kSeparateFrom * 2, 0x61);
    source.PushOutBytes(large.data(), static_cast<DWORD>(large.size()));
    const std::vector<BYTE> blob = Encode(source, InvokeModeBoth);
    CInvokeData borrowing;
    ASSERT_TRUE(borrowing.Decode(blob.data(), blob.size(), true));
    const std::vector<BYTE> whole = Encode(borrowing, InvokeModeReply);
    std::vector<BYTE> block(whole.size());
    int taken = 0;
    borrowing.EncodeReplySeparating(block.data(), static_cast<LONG>(block.size()),
                                    [&](size_t, std::unique_ptr<BYTE[]> data, std::unique_ptr<IInvokeItemSource>,
                                        DWORD) {
                                        ++taken;
                                        data.release(); // never the record's to give
                                    });
    EXPECT_EQ(taken, 0);
    EXPECT_EQ(block, whole);
}

// An item whose source gives its bytes encodes exactly as the same bytes
// pushed would, whichever way it is encoded and however often.
TEST(InvokeDataEncode, SourcedItemsEncodeAsTheirBytes)
{
    const std::vector<BYTE> large = Pattern(CInvokeData::kSeparateFrom + 5, 1);
    const std::vector<BYTE> small = Pattern(100, 2);
    CInvokeData plain(1012);
    plain.result = S_OK;
    plain.PushOutDword(7);
    plain.PushOutBytes(large.data(), static_cast<DWORD>(large.size()));
    plain.PushOutBytes(small.data(), static_cast<DWORD>(small.size()));
    const std::vector<BYTE> expected = Encode(plain, InvokeModeReply);

    int released = 0;
    {
        CInvokeData r(1012);
        r.result = S_OK;
        r.PushOutDword(7);
        r.PushOutSource(std::make_unique<VectorSource>(large, &released), static_cast<DWORD>(large.size()));
        EXPECT_EQ(r.PushOutSource(std::make_unique<VectorSource>(small, &released), static_cast<DWORD>(small.size())),
                  3u);
        EXPECT_EQ(r.GetEncodedSize(InvokeModeReply), expected.size());
        EXPECT_EQ(Encode(r, InvokeModeReply), expected);
        EXPECT_EQ(Encode(r, InvokeModeReply), expected);

        // Separated, the large item's source is handed over in its place and
        // the small one is read in.
        std::vector<BYTE> block(expected.size(), 0xEE);
        std::unique_ptr<IInvokeItemSource> handed;
        size_t at = 0;
        EXPECT_EQ(r.EncodeReplySeparating(block.data(), static_cast<LONG>(block.size()),
                                          [&](size_t offset, std::unique_ptr<BYTE[]> data,
                                              std::unique_ptr<IInvokeItemSource> source, DWORD length) {
                                              EXPECT_EQ(data, nullptr);
                                              EXPECT_EQ(length, large.size());
                                              at = offset;
                                              handed = std::move(source);
                                          }),
                  static_cast<LONG>(expected.size()));
        ASSERT_NE(handed, nullptr);
        ASSERT_TRUE(handed->Read(0, block.data() + at, large.size()));
        EXPECT_EQ(block, expected);
        EXPECT_EQ(r.OutItems()[1].length, 0u);
        EXPECT_EQ(released, 0);
        handed.reset();
        EXPECT_EQ(released, 1);
    }
    EXPECT_EQ(released, 2);

    // Popped, a sourced item is the caller's buffer like any large item.
    CInvokeData popped;
    popped.PushOutSource(std::make_unique<VectorSource>(large, &released), static_cast<DWORD>(large.size()));
    popped.PushOutSource(nullptr, 5); // no source: an empty item
    BYTE* data = nullptr;
    DWORD length = 0;
    EXPECT_EQ(popped.PopOutBytes(&data, &length), 1);
    EXPECT_EQ(std::vector<BYTE>(data, data + length), large);
    delete[] data;
    EXPECT_EQ(released, 3);
    EXPECT_EQ(popped.PopOutBytes(&data, &length), 0);
    EXPECT_EQ(length, 0u);
}

// A source that cannot give the bytes announced (a file that shrank) never
// lets stale memory or a partial item pass for the content.
TEST(InvokeDataEncode, SourcedItemsThatFailAreNeverPassedOff)
{
    int released = 0;
    const std::vector<BYTE> short_ = Pattern(50, 3);
    CInvokeData r(1012);
    r.PushOutSource(std::make_unique<VectorSource>(short_, &released), 60);
    std::vector<BYTE> block(r.GetEncodedSize(InvokeModeReply), 0xEE);
    EXPECT_EQ(r.Encode(block.data(), static_cast<LONG>(block.size()), InvokeModeReply), E_FAIL);
    for (size_t i = block.size() - 60; i < block.size(); ++i)
        ASSERT_EQ(block[i], 0) << i;
    EXPECT_EQ(r.EncodeReplySeparating(block.data(), static_cast<LONG>(block.size()),
                                      [](size_t, std::unique_ptr<BYTE[]>, std::unique_ptr<IInvokeItemSource>,
                                         DWORD) { FAIL(); }),
              E_FAIL);
    BYTE* data = nullptr;
    DWORD length = 9;
    EXPECT_EQ(r.PopOutBytes(&data, &length), 0);
    EXPECT_EQ(length, 0u);
    EXPECT_EQ(data, nullptr);
    EXPECT_EQ(released, 1);

    // A string or word popped from a failing source reads as empty too.
    r.PushOutSource(std::make_unique<VectorSource>(short_, &released), 60);
    r.PushOutSource(std::make_unique<VectorSource>(short_, &released), 60);
    char text[8] = "stale";
    r.PopOutString(text, sizeof text);
    EXPECT_STREQ(text, "");
    DWORD word = 5;
    r.PopOutDword(&word);
    EXPECT_EQ(word, 0u);
    EXPECT_EQ(released, 3);
}
