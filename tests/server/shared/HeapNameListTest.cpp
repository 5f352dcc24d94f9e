#include "server/shared/HeapNameList.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <type_traits>
#include <vector>

namespace {

struct Plain {
    DWORD tag;
    std::string name;
    std::string second;
    bool operator==(const Plain&) const = default;
};

std::vector<Plain> Contents(const HeapNameList& list)
{
    std::vector<Plain> out;
    for (const HeapNameEntry& e : list)
        out.push_back({e.tag, std::string(e.name), std::string(e.second)});
    return out;
}

bool ByName(const HeapNameEntry& a, const HeapNameEntry& b)
{
    return a.name < b.name;
}

} // namespace

TEST(HeapNameListPool, EntriesShareAFewBlocksThatGoBackTogether)
{
    HeapNameList list;
    EXPECT_EQ(list.BlockCount(), 0u);
    for (int i = 0; i < 100000; ++i)
        list.Append(static_cast<DWORD>(i), "USER" + std::to_string(i), i % 2 ? "LDAP://dc/CN=x" : "");
    // Blocks double up to a megabyte: a hundred thousand entries take a few
    // dozen heap blocks, not one per entry.
    EXPECT_GE(list.BlockCount(), 2u);
    EXPECT_LE(list.BlockCount(), 30u);
    DWORD i = 0;
    for (const HeapNameEntry& e : list) {
        ASSERT_EQ(e.tag, i);
        ASSERT_EQ(e.name, "USER" + std::to_string(i));
        ASSERT_EQ(e.name.c_str()[e.name.size()], '\0');
        ASSERT_EQ(e.second, i % 2 ? "LDAP://dc/CN=x" : "");
        ++i;
    }
    list.Clear();
    EXPECT_EQ(list.BlockCount(), 0u);
    EXPECT_EQ(list.TextBytes(), 0u);
    list.Append(1, "again");
    EXPECT_EQ(list.BlockCount(), 1u);
}

TEST(HeapNameListPool, SpliceTakesTheOtherListsBlocksAlong)
{
    HeapNameList list, other, empty;
    list.Append(1, "a");
    for (int i = 0; i < 1000; ++i)
        other.Append(2, std::string(40, 'b'));
    const size_t otherBlocks = other.BlockCount();
    list.Splice(other);
    EXPECT_EQ(other.BlockCount(), 0u);
    EXPECT_EQ(other.Count(), 0u);
    EXPECT_EQ(list.BlockCount(), 1 + otherBlocks);
    EXPECT_EQ(list.Count(), 1001u);
    // The text total the flat size is taken from moves along.
    EXPECT_EQ(list.TextBytes(), 1u + 1000u * 40u);
    EXPECT_EQ(other.TextBytes(), 0u);
    // The spliced entries outlive their first list, and new ones still fit.
    other.Append(3, "c");
    list.Append(4, "d");
    EXPECT_EQ(std::string(list.begin()->name), "a");
    EXPECT_EQ(std::string((--list.end())->name), "d");
    empty.Splice(list);
    EXPECT_EQ(empty.Count(), 1002u);
    EXPECT_EQ(list.BlockCount(), 0u);
}

TEST(HeapNameList, StartsEmptyAndKeepsAppendOrder)
{
    HeapNameList list;
    EXPECT_EQ(list.Count(), 0u);
    EXPECT_TRUE(list.Empty());
    EXPECT_TRUE(list.begin() == list.end());

    list.Append(2, "alice");
    list.Append(5, "Sales", "LDAP://dc/OU=Sales");
    list.Append(1, std::string(300, 'x'), "");
    EXPECT_EQ(list.Count(), 3u);
    EXPECT_FALSE(list.Empty());
    std::vector<Plain> expected = {{2, "alice", ""}, {5, "Sales", "LDAP://dc/OU=Sales"}, {1, std::string(300, 'x'), ""}};
    EXPECT_EQ(Contents(list), expected);

    // Walking back from the end meets the entries in reverse.
    auto it = list.end();
    --it;
    EXPECT_EQ(it->tag, 1u);
    --it;
    --it;
    EXPECT_EQ(it->name, "alice");
    EXPECT_TRUE(it == list.begin());
}

TEST(HeapNameList, EntriesCanBeRetaggedInPlace)
{
    HeapNameList list;
    list.Append(0, "a");
    list.Append(0, "b");
    for (HeapNameEntry& e : list)
        e.tag = 4;
    EXPECT_EQ(Contents(list), (std::vector<Plain>{{4, "a", ""}, {4, "b", ""}}));
}

TEST(HeapNameList, EmbeddedNulIsKeptAsPartOfTheText)
{
    HeapNameList list;
    list.Append(1, std::string_view("a\0b", 3));
    EXPECT_EQ(list.begin()->name.size(), 3u);
}

TEST(HeapNameList, ClearEmptiesAndTheListStaysUsable)
{
    HeapNameList list;
    list.Clear();
    for (int i = 0; i < 100; ++i)
        list.Append(static_cast<DWORD>(i), "n" + std::to_string(i));
    list.Clear();
    EXPECT_EQ(list.Count(), 0u);
    EXPECT_TRUE(list.begin() == list.end());
    list.Append(7, "again");
    EXPECT_EQ(Contents(list), (std::vector<Plain>{{7, "again", ""}}));
}

TEST(HeapNameList, SpliceMovesEveryEntryInOrder)
{
    HeapNameList users, computers;
    users.Append(2, "u1");
    users.Append(2, "u2");
    computers.Append(1, "c1");
    users.Splice(computers);
    EXPECT_EQ(computers.Count(), 0u);
    EXPECT_TRUE(computers.begin() == computers.end());
    EXPECT_EQ(Contents(users), (std::vector<Plain>{{2, "u1", ""}, {2, "u2", ""}, {1, "c1", ""}}));

    // Into an empty list, from an empty list, and onto itself.
    HeapNameList empty;
    empty.Splice(users);
    EXPECT_EQ(empty.Count(), 3u);
    EXPECT_EQ(users.Count(), 0u);
    empty.Splice(users);
    empty.Splice(empty);
    EXPECT_EQ(empty.Count(), 3u);
    // The emptied source takes new entries normally.
    computers.Append(1, "c2");
    EXPECT_EQ(Contents(computers), (std::vector<Plain>{{1, "c2", ""}}));
}

TEST(HeapNameList, SortIsByteOrderedAndStable)
{
    HeapNameList list;
    list.Append(2, "bob");
    list.Append(2, "Zed");
    list.Append(2, "alice");
    list.Append(1, "bob");
    list.Append(1, "\xe9" "clair");
    list.Sort(ByName);
    // Upper case before lower case, bytes above 0x7F last; the user (tag 2)
    // stays ahead of the computer of the same name.
    EXPECT_EQ(Contents(list), (std::vector<Plain>{{2, "Zed", ""}, {2, "alice", ""}, {2, "bob", ""}, {1, "bob", ""},
                                                   {1, "\xe9" "clair", ""}}));
    auto last = list.end();
    --last;
    EXPECT_EQ(last->name, "\xe9" "clair");
}

TEST(HeapNameList, SortMatchesAStableSortOnManyEntries)
{
    std::mt19937 random(7);
    for (int size : {0, 1, 2, 3, 17, 64, 1000, 1025}) {
        HeapNameList list;
        std::vector<Plain> reference;
        for (int i = 0; i < size; ++i) {
            std::string name(1, static_cast<char>('a' + random() % 6));
            list.Append(static_cast<DWORD>(i), name);
            reference.push_back({static_cast<DWORD>(i), name, ""});
        }
        list.Sort(ByName);
        std::stable_sort(reference.begin(), reference.end(),
                         [](const Plain& a, const Plain& b) { return a.name < b.name; });
        EXPECT_EQ(Contents(list), reference) << size;
        EXPECT_EQ(list.Count(), static_cast<DWORD>(size));
        // The back links agree with the forward ones.
        size_t back = 0;
        for (auto it = list.end(); it != list.begin();) {
            --it;
            ++back;
        }
        EXPECT_EQ(back, static_cast<size_t>(size));
    }
}
