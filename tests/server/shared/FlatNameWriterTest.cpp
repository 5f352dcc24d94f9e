#include "server/shared/FlatNameWriter.h"

#include "server/shared/FlatNameList.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <new>
#include <string>
#include <vector>

namespace {

// Array allocations of this test binary fail while this is set; nothing
// else here allocates arrays. The array forms come from malloc and go back
// to free, as a pair of their own whatever allocator is watching.
bool failArrays = false;

} // namespace

void* operator new[](size_t size, const std::nothrow_t&) noexcept
{
    return failArrays ? nullptr : std::malloc(size == 0 ? 1 : size);
}

void* operator new[](size_t size)
{
    void* block = operator new[](size, std::nothrow);
    if (block == nullptr)
        throw std::bad_alloc();
    return block;
}

void operator delete[](void* block) noexcept
{
    std::free(block);
}

void operator delete[](void* block, size_t) noexcept
{
    std::free(block);
}

void operator delete[](void* block, const std::nothrow_t&) noexcept
{
    std::free(block);
}

namespace {

struct FailArrays {
    FailArrays() { failArrays = true; }
    ~FailArrays() { failArrays = false; }
};

std::vector<BYTE> Released(FlatNameWriter& writer)
{
    BYTE* buffer = nullptr;
    DWORD length = 0;
    EXPECT_EQ(writer.Release(&buffer, &length), S_OK);
    std::vector<BYTE> bytes(buffer, buffer + length);
    EXPECT_EQ(FreeFlatBuffer(buffer), S_OK);
    return bytes;
}

std::vector<BYTE> Flattened(const HeapNameList& list)
{
    BYTE* buffer = nullptr;
    DWORD length = 0;
    EXPECT_EQ(FlattenNameList(list, &buffer, &length), S_OK);
    std::vector<BYTE> bytes(buffer, buffer + length);
    FreeFlatBuffer(buffer);
    return bytes;
}

struct Entry {
    DWORD tag;
    std::string name;
    std::string second;
};

// The writer's bytes are the ones FlattenNameList makes of the same entries.
void ExpectSameAsFlattened(const std::vector<Entry>& entries, size_t firstBlock = 0)
{
    FlatNameWriter writer(firstBlock);
    HeapNameList list;
    for (const Entry& e : entries) {
        writer.Append(e.tag, e.name, e.second);
        list.Append(e.tag, e.name, e.second);
    }
    EXPECT_EQ(writer.Count(), list.Count());
    EXPECT_EQ(writer.Size(), FlatNameList::SizeOf(list));
    EXPECT_EQ(Released(writer), Flattened(list));
}

} // namespace

TEST(FlatNameWriter, EmptyWriterHandsOverAZeroCount)
{
    FlatNameWriter writer;
    EXPECT_EQ(writer.Count(), 0u);
    EXPECT_EQ(writer.Size(), 4u);
    EXPECT_EQ(Released(writer), (std::vector<BYTE>{0, 0, 0, 0}));
    // A size seen before does not make the empty list any larger.
    FlatNameWriter expecting(1 << 20);
    BYTE* buffer = nullptr;
    DWORD length = 0;
    ASSERT_EQ(expecting.Release(&buffer, &length), S_OK);
    EXPECT_EQ(length, 4u);
    FreeFlatBuffer(buffer);
}

TEST(FlatNameWriter, WritesWhatFlatteningTheSameListWrites)
{
    ExpectSameAsFlattened({{0x04030201, "ab", ""}});
    // Empty texts, a name with an embedded NUL, bytes above 0x7F, a second text.
    ExpectSameAsFlattened({{2, "", ""},
                           {5, std::string("a\0b", 3), "LDAP://dc/CN=a"},
                           {0xFFFFFFFF, "\xe9t\xe9", "x"},
                           {1, "", "only second"}});
    // Texts longer than the first block, and longer than a doubled one.
    ExpectSameAsFlattened({{1, std::string(5000, 'n'), std::string(20000, 's')}, {2, "after", ""}});
    // Many entries across several growths, with and without a first size.
    std::vector<Entry> many;
    for (DWORD i = 0; i < 20000; ++i)
        many.push_back({i % 6, "USER" + std::to_string(i), i % 3 == 0 ? "OU=" + std::to_string(i) : ""});
    ExpectSameAsFlattened(many);
    ExpectSameAsFlattened(many, 100);
    ExpectSameAsFlattened(many, 10 << 20);
}

TEST(FlatNameWriter, ClearStartsOverAndReleaseEmptiesTheWriter)
{
    FlatNameWriter writer;
    writer.Append(1, "gone");
    writer.Clear();
    EXPECT_EQ(writer.Count(), 0u);
    EXPECT_EQ(writer.Size(), 4u);
    writer.Append(2, "kept");
    std::vector<BYTE> kept = Released(writer);
    EXPECT_EQ(kept, (std::vector<BYTE>{1, 0, 0, 0, 2, 0, 0, 0, 5, 0, 0, 0, 'k', 'e', 'p', 't', 0, 1, 0, 0, 0, 0}));
    // After the hand-over the writer starts again from nothing.
    EXPECT_EQ(writer.Count(), 0u);
    EXPECT_EQ(Released(writer), (std::vector<BYTE>{0, 0, 0, 0}));
    writer.Append(3, "again");
    EXPECT_EQ(writer.Count(), 1u);
}

TEST(FlatNameWriter, NullOutPointersAreRefusedAndNothingIsSet)
{
    FlatNameWriter writer;
    writer.Append(1, "a");
    BYTE* buffer = reinterpret_cast<BYTE*>(&writer);
    DWORD length = 77;
    EXPECT_EQ(writer.Release(nullptr, &length), E_INVALIDARG);
    EXPECT_EQ(length, 77u);
    EXPECT_EQ(writer.Release(&buffer, nullptr), E_INVALIDARG);
    EXPECT_EQ(buffer, reinterpret_cast<BYTE*>(&writer));
    EXPECT_EQ(writer.Count(), 1u);
}

TEST(FlatNameWriter, FailedAllocationLeavesTheWriterAsItWas)
{
    FlatNameWriter writer;
    {
        FailArrays failing;
        EXPECT_THROW(writer.Append(1, "first"), std::bad_alloc);
        BYTE* buffer = nullptr;
        DWORD length = 0;
        EXPECT_EQ(writer.Release(&buffer, &length), E_OUTOFMEMORY);
        EXPECT_EQ(buffer, nullptr);
    }
    EXPECT_EQ(writer.Count(), 0u);
    writer.Append(1, "first");
    const size_t size = writer.Size();
    {
        // An entry too large for the block fails to grow it; the entries
        // written so far stay, and the hand-over needs no memory.
        FailArrays failing;
        EXPECT_THROW(writer.Append(2, std::string(10000, 'x')), std::bad_alloc);
        EXPECT_EQ(writer.Count(), 1u);
        EXPECT_EQ(writer.Size(), size);
        BYTE* buffer = nullptr;
        DWORD length = 0;
        ASSERT_EQ(writer.Release(&buffer, &length), S_OK);
        EXPECT_EQ(length, size);
        EXPECT_EQ(buffer[0], 1);
        FreeFlatBuffer(buffer);
    }
}
