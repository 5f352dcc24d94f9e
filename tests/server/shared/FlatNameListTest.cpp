#include "server/shared/FlatNameList.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<BYTE> Flatten(const HeapNameList& list)
{
    BYTE* buffer = nullptr;
    DWORD length = 0;
    EXPECT_EQ(FlattenNameList(list, &buffer, &length), S_OK);
    std::vector<BYTE> bytes(buffer, buffer + length);
    EXPECT_EQ(FreeFlatBuffer(buffer), S_OK);
    return bytes;
}

struct Decoded {
    DWORD tag;
    std::string name;
    std::string second;
    bool operator==(const Decoded&) const = default;
};

DWORD Dword(const std::vector<BYTE>& b, size_t& at)
{
    DWORD v = DWORD(b.at(at)) | DWORD(b.at(at + 1)) << 8 | DWORD(b.at(at + 2)) << 16 | DWORD(b.at(at + 3)) << 24;
    at += 4;
    return v;
}

std::string Text(const std::vector<BYTE>& b, size_t& at)
{
    DWORD size = Dword(b, at);
    EXPECT_GE(size, 1u);
    EXPECT_EQ(b.at(at + size - 1), 0) << "text without its NUL";
    std::string text(reinterpret_cast<const char*>(&b.at(at)), size - 1);
    at += size;
    return text;
}

// Reads a flat list the way a client does; every byte must be used.
std::vector<Decoded> Decode(const std::vector<BYTE>& b)
{
    size_t at = 0;
    DWORD count = Dword(b, at);
    std::vector<Decoded> out;
    for (DWORD i = 0; i < count; ++i) {
        Decoded d;
        d.tag = Dword(b, at);
        d.name = Text(b, at);
        d.second = Text(b, at);
        out.push_back(d);
    }
    EXPECT_EQ(at, b.size());
    return out;
}

} // namespace

TEST(FlatNameList, EmptyListIsAZeroCount)
{
    HeapNameList list;
    EXPECT_EQ(Flatten(list), (std::vector<BYTE>{0, 0, 0, 0}));
    EXPECT_EQ(FlatNameList::SizeOf(list), 4u);
}

TEST(FlatNameList, EntryWithoutSecondTextByteForByte)
{
    HeapNameList list;
    list.Append(0x04030201, "ab");
    std::vector<BYTE> expected = {
        1, 0, 0, 0,          // count
        1, 2, 3, 4,          // tag, little-endian
        3, 0, 0, 0, 'a', 'b', 0, // name with its NUL
        1, 0, 0, 0, 0,       // empty second: size 1, one NUL
    };
    std::vector<BYTE> flat = Flatten(list);
    EXPECT_EQ(flat, expected);
    // The entry itself takes 4 + 4 + 3 + 4 + 1 = 16 bytes.
    EXPECT_EQ(flat.size() - 4, 16u);
}

TEST(FlatNameList, EntriesFollowOneAnotherInListOrder)
{
    HeapNameList list;
    list.Append(2, "asmith", "LDAP://dc/CN=Alice");
    list.Append(5, "", "");
    list.Append(0xFFFFFFFF, "\xe9t\xe9", "x");
    std::vector<BYTE> flat = Flatten(list);
    EXPECT_EQ(flat.size(), FlatNameList::SizeOf(list));
    EXPECT_EQ(flat.size(), 4u + (14 + 6 + 18) + (14 + 0 + 0) + (14 + 3 + 1));
    EXPECT_EQ(Decode(flat), (std::vector<Decoded>{
                                {2, "asmith", "LDAP://dc/CN=Alice"}, {5, "", ""}, {0xFFFFFFFF, "\xe9t\xe9", "x"}}));
    // Second entry starts right after the first: tag 5 at offset 4 + 38.
    EXPECT_EQ(flat[42], 5);
}

TEST(FlatNameList, ManyEntriesRoundTrip)
{
    HeapNameList list;
    std::vector<Decoded> expected;
    for (DWORD i = 0; i < 500; ++i) {
        std::string name(i % 40, static_cast<char>('a' + i % 26));
        list.Append(i, name, std::to_string(i));
        expected.push_back({i, name, std::to_string(i)});
    }
    EXPECT_EQ(Decode(Flatten(list)), expected);
}

TEST(FlatNameList, NullOutPointersAreRefusedAndNothingIsSet)
{
    HeapNameList list;
    list.Append(1, "a");
    BYTE* buffer = reinterpret_cast<BYTE*>(&list);
    DWORD length = 77;
    EXPECT_EQ(FlattenNameList(list, nullptr, &length), E_INVALIDARG);
    EXPECT_EQ(length, 77u);
    EXPECT_EQ(FlattenNameList(list, &buffer, nullptr), E_INVALIDARG);
    EXPECT_EQ(buffer, reinterpret_cast<BYTE*>(&list));
    EXPECT_EQ(FreeFlatBuffer(nullptr), S_OK);
}
