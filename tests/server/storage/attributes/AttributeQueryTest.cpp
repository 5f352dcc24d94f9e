#include "AttributeTestSupport.h"

#include "server/storage/attributes/AttributeMatch.h"
#include "server/storage/attributes/Wildcard.h"

#include <algorithm>
#include <set>

using namespace attrtest;

namespace {

using QueryTest = AttributeStoreTest;

TEST_F(QueryTest, StrategyMarksGoFirstAndTheWalkEnds)
{
    Ref<CAttributeQuery> q(new CAttributeQuery);
    DWORD s = 0, op = 0, length = 0;
    std::uintptr_t value = 0;
    EXPECT_EQ(q->GetNextCriterion(&s, &op, &value, &length), E_OUTOFMEMORY);
    EXPECT_EQ(q->GetFirstCriterion(&s, &op, &value, &length), E_OUTOFMEMORY);
    ASSERT_EQ(q->AddCriterion(2, 1, 5, 0), S_OK);
    ASSERT_EQ(q->AddCriterion(101, 0, 0, 0), S_OK);
    ASSERT_EQ(q->GetFirstCriterion(&s, &op, &value, &length), S_OK);
    EXPECT_EQ(s, 101u);
    ASSERT_EQ(q->GetNextCriterion(&s, &op, &value, &length), S_OK);
    EXPECT_EQ(s, 2u);
    EXPECT_EQ(value, 5u);
    EXPECT_EQ(length, 0u);
    EXPECT_EQ(q->GetNextCriterion(&s, &op, &value, &length), E_OUTOFMEMORY);
    EXPECT_EQ(q->GetNextCriterion(&s, &op, &value, &length), E_OUTOFMEMORY);

    // Texts are copied with a closing zero byte and keep that in their length.
    char text[] = "Repl*";
    ASSERT_EQ(q->AddCriterion(1, 1, reinterpret_cast<std::uintptr_t>(text), 5), S_OK);
    text[0] = 'X';
    ASSERT_EQ(q->GetFirstCriterion(&s, &op, &value, &length), S_OK);
    q->GetNextCriterion(&s, &op, &value, &length);
    ASSERT_EQ(q->GetNextCriterion(&s, &op, &value, &length), S_OK);
    EXPECT_EQ(length, 6u);
    EXPECT_STREQ(reinterpret_cast<const char*>(value), "Repl*");

    EXPECT_EQ(q->Reserved6(), E_NOTIMPL);
    EXPECT_EQ(q->Reserved7(), E_NOTIMPL);
    EXPECT_EQ(q->Reserved8(), E_NOTIMPL);
    EXPECT_EQ(q->AddCriterion(7, 1, 0, 3), E_INVALIDARG); // no text behind a length
    ASSERT_EQ(q->ClearCriteria(), S_OK);
    EXPECT_EQ(q->GetFirstCriterion(&s, &op, &value, &length), E_OUTOFMEMORY);
    EXPECT_EQ(q->GetFirstCriterion(nullptr, &op, &value, &length), E_POINTER);
}

// The store a settings file holds, plus the records no query may return.
class QueryFixture : public QueryTest {
protected:
    void SetUp() override
    {
        Add("ReplStatus", 4, 11005, [](CAttribute* a) { a->SetFlag(1, 1); });
        Add("UpdateInterval", 4, 11004, [](CAttribute* a) { a->SetNumber(300000); });
        Add("replstatus", 4, 11006, [](CAttribute* a) { a->SetString("lower case twin"); });
        Add("Later", 4, 20000, [](CAttribute* a) {
            const FILETIME ft{0, 0x80000000u}; // above the signed 64-bit range
            a->SetFileTime(&ft);
            a->SetUserWord(0xFFFFFFFFu);
        });
        Add("Blob", 7, -3, [](CAttribute* a) {
            const BYTE b[] = {'a', 'b', 'c'};
            a->SetBinary(b, 3);
            a->SetFlag(0x4, 1);
        });
        Add("dir\\file", 5, 1, [](CAttribute* a) {
            a->SetString("Value One");
            const FILETIME ft{100, 0};
            a->SetFileTime(&ft);
            a->SetMark();
        });
        Add("dir\\sub\\file", 5, 2, [](CAttribute* a) {
            a->SetString("value two");
            const FILETIME ft{200, 0};
            a->SetFileTime(&ft);
        });
        Add("Removed", 4, 11004, [&](CAttribute* a) { dir->RemoveAttribute(a); });
        Ref<CAttributeDirectory> sub;
        ASSERT_EQ(dir->CreateDirectory("SubDirectory", sub.Out()), S_OK);
    }
    void TearDown() override
    {
        dir.Reset();
        QueryTest::TearDown();
    }

    template <typename F>
    void Add(const char* name, LONG appId, LONG id, F&& setup)
    {
        Ref<CAttribute> a;
        ASSERT_EQ(dir->CreateAttribute(name, appId, id, a.Out(), 0), S_OK);
        setup(a.Get());
    }

    // The names found, in directory order, with the query preceded by a strategy mark.
    std::vector<std::string> Find(DWORD strategy, std::initializer_list<Criterion> criteria)
    {
        Ref<CAttributeQuery> q = MakeQuery(criteria);
        if (strategy != 0)
            q->AddCriterion(strategy, 0, 0, 0);
        Ref<CAttributeList> list;
        EXPECT_EQ(dir->QueryAttributes(q.Get(), list.Out(), nullptr), S_OK);
        return list ? Names(list.Get()) : std::vector<std::string>{};
    }

    // The same answer from the linear scan and the indexed evaluation.
    std::vector<std::string> FindBoth(std::initializer_list<Criterion> criteria)
    {
        const std::vector<std::string> linear = Find(0, criteria);
        EXPECT_EQ(Find(QUERY_INDEXED, criteria), linear);
        return linear;
    }

    Ref<CAttributeDirectory> dir{new CAttributeDirectory};
};

using Names_ = std::vector<std::string>;

TEST_F(QueryFixture, SettingLookupByAppIdAndId)
{
    for (DWORD strategy : {0u, QUERY_INDEXED, QUERY_MATCHER})
        EXPECT_EQ(Find(strategy, {Number(3, 1, 4), Number(2, 1, 11004)}), Names_{"UpdateInterval"}) << strategy;
    EXPECT_EQ(FindBoth({Number(3, 1, 4), Number(2, 5, 11004)}),
              (Names_{"ReplStatus", "UpdateInterval", "replstatus", "Later"}));
    EXPECT_EQ(FindBoth({Number(2, 2, -100)}), Names_{});
    EXPECT_EQ(FindBoth({Number(2, 2, 0)}), Names_{"Blob"});

    Ref<CAttributeQuery> q = MakeQuery({Number(3, 1, 4), Number(2, 1, 11005)});
    Ref<CAttributeList> list;
    Ref<CAttribute> first;
    ASSERT_EQ(dir->QueryAttributes(q.Get(), list.Out(), first.Out()), S_OK);
    LONG state = 0;
    first->GetFlag(1, &state);
    EXPECT_EQ(state, 1);
}

TEST_F(QueryFixture, EveryOperatorOnNumbers)
{
    EXPECT_EQ(FindBoth({Number(3, 1, 5)}), (Names_{"dir\\file", "dir\\sub\\file"}));
    EXPECT_EQ(FindBoth({Number(3, 2, 5)}), (Names_{"ReplStatus", "UpdateInterval", "replstatus", "Later"}));
    EXPECT_EQ(FindBoth({Number(3, 3, 5)}), Names_{"Blob"});
    EXPECT_EQ(FindBoth({Number(3, 4, 4)}), (Names_{"Blob", "dir\\file", "dir\\sub\\file"}));
    EXPECT_EQ(FindBoth({Number(3, 6, 4), Number(2, 6, 11004)}), Names_{"UpdateInterval"});
    EXPECT_EQ(FindBoth({Number(3, 7, 4)}), Names_{});
    EXPECT_EQ(FindBoth({Number(3, 0, 4)}), Names_{});
    // The user word is compared as a signed number.
    EXPECT_EQ(FindBoth({Number(8, 1, -1)}), Names_{"Later"});
    EXPECT_EQ(FindBoth({Number(8, 2, 0)}), Names_{"Later"});
    EXPECT_EQ(FindBoth({Number(11, 2, 0)}), Names_{"Later"});
    EXPECT_EQ(FindBoth({Number(10, 1, 200)}), Names_{"dir\\sub\\file"});
}

// Selectors 5 and 6 read the 28 flag bits in every strategy, so the binary
// bit or the mark of a record does not hide it from an indexed query.
TEST_F(QueryFixture, FlagSelectorsReadTheFlagBitsInEveryStrategy)
{
    EXPECT_EQ(FindBoth({Number(6, 1, 0x4)}), Names_{"Blob"});
    EXPECT_EQ(FindBoth({Number(5, 1, 0x1)}), Names_{"ReplStatus"});
    EXPECT_EQ(FindBoth({Number(5, 1, 0), Number(3, 1, 5)}), (Names_{"dir\\file", "dir\\sub\\file"}));
    EXPECT_EQ(Find(QUERY_MATCHER, {Number(6, 1, 0x4)}), Names_{"Blob"});
    // The full words, for the linear scan only.
    EXPECT_EQ(Find(0, {Number(13, 1, static_cast<LONG>(RECORD_BINARY | 0x4))}), Names_{"Blob"});
    EXPECT_EQ(Find(0, {Number(12, 1, static_cast<LONG>(ATTRIBUTE_MARK))}), Names_{"dir\\file"});
}

TEST_F(QueryFixture, TimeComparesAsAnUnsignedNumber)
{
    const FILETIME t{150, 0};
    const Criterion earlier{9, 2, reinterpret_cast<std::uintptr_t>(&t), 8};
    EXPECT_EQ(FindBoth({earlier, Number(3, 1, 5)}), Names_{"dir\\file"});
    const FILETIME big{0, 0x7FFFFFFFu};
    const Criterion above{9, 3, reinterpret_cast<std::uintptr_t>(&big), 8};
    EXPECT_EQ(FindBoth({above}), Names_{"Later"});
    EXPECT_EQ(Find(QUERY_MATCHER, {above}), Names_{"Later"});
    // A time given in fewer than 8 bytes reads as zero-extended, never past the copy.
    const BYTE two[] = {200, 0};
    EXPECT_EQ(FindBoth({Criterion{9, 1, reinterpret_cast<std::uintptr_t>(two), 2}}), Names_{"dir\\sub\\file"});
}

TEST_F(QueryFixture, NamePatternsAreCaseSensitiveAndEqualityIsNot)
{
    for (DWORD strategy : {0u, QUERY_INDEXED, QUERY_MATCHER}) {
        EXPECT_EQ(Find(strategy, {Text(1, 1, "Repl*")}), Names_{"ReplStatus"}) << strategy;
        EXPECT_EQ(Find(strategy, {Text(1, 7, "replstatus")}), (Names_{"ReplStatus", "replstatus"})) << strategy;
        EXPECT_EQ(Find(strategy, {Text(1, 2, "Repl*")}),
                  (Names_{"UpdateInterval", "replstatus", "Later", "Blob", "dir\\file", "dir\\sub\\file"}))
            << strategy;
        EXPECT_EQ(Find(strategy, {Text(1, 1, "dir\\*")}), Names_{"dir\\file"}) << strategy;
        EXPECT_EQ(Find(strategy, {Text(1, 1, "dir*")}), (Names_{"dir\\file", "dir\\sub\\file"})) << strategy;
        EXPECT_EQ(Find(strategy, {Text(1, 1, "?ater")}), Names_{"Later"}) << strategy;
    }
}

TEST_F(QueryFixture, ValuesMatchAsTextOrAsBytes)
{
    EXPECT_EQ(FindBoth({Text(7, 1, "*alue*")}), (Names_{"dir\\file", "dir\\sub\\file"}));
    EXPECT_EQ(FindBoth({Text(7, 1, "V*")}), Names_{"dir\\file"});
    EXPECT_EQ(FindBoth({Text(7, 7, "VALUE TWO")}), Names_{"dir\\sub\\file"});
    // A binary value is equal to exactly its own bytes.
    EXPECT_EQ(FindBoth({Text(7, 1, "abc")}), Names_{"Blob"});
    EXPECT_EQ(FindBoth({Text(7, 1, "ab")}), Names_{});
    EXPECT_EQ(FindBoth({Text(7, 4, "abc"), Number(3, 1, 7)}), Names_{});
    // Attributes without a value match no present pattern.
    EXPECT_EQ(FindBoth({Text(7, 1, "*"), Number(3, 1, 4)}), Names_{"replstatus"});
}

TEST_F(QueryFixture, AQueryWithoutCriteriaFindsNothing)
{
    Ref<CAttributeQuery> q(new CAttributeQuery);
    Ref<CAttributeList> list;
    ASSERT_EQ(dir->QueryAttributes(q.Get(), list.Out(), nullptr), S_OK);
    EXPECT_TRUE(Names(list.Get()).empty());
    Ref<CAttribute> first;
    EXPECT_EQ(dir->QueryAttributes(q.Get(), list.Out(), first.Out()), E_OUTOFMEMORY);
    EXPECT_FALSE(list);
    EXPECT_FALSE(first);
    EXPECT_EQ(Find(QUERY_INDEXED, {}), Names_{});
    EXPECT_EQ(Find(QUERY_MATCHER, {}).size(), 7u); // the matcher takes every attribute
    EXPECT_EQ(dir->QueryAttributes(nullptr, list.Out(), nullptr), E_INVALIDARG);
    EXPECT_EQ(dir->QueryAttributes(q.Get(), nullptr, nullptr), E_POINTER);
}

TEST_F(QueryFixture, RemovedAndSubDirectoryRecordsAreNeverFound)
{
    for (DWORD strategy : {0u, QUERY_INDEXED, QUERY_MATCHER}) {
        EXPECT_EQ(Find(strategy, {Text(1, 1, "Removed")}), Names_{}) << strategy;
        EXPECT_EQ(Find(strategy, {Text(1, 1, "SubDirectory")}), Names_{}) << strategy;
        EXPECT_EQ(Find(strategy, {Number(3, 1, 0)}), Names_{}) << strategy;
    }
}

TEST_F(QueryFixture, IndexesFollowEveryChange)
{
    EXPECT_EQ(Find(QUERY_INDEXED, {Number(2, 1, 42)}), Names_{});
    Ref<CAttribute> a;
    ASSERT_EQ(dir->GetFirstAttribute(a.Out()), S_OK);
    a->SetId(42);
    EXPECT_EQ(Find(QUERY_INDEXED, {Number(2, 1, 42)}), Names_{"ReplStatus"});
    a->SetName("Renamed");
    EXPECT_EQ(Find(QUERY_INDEXED, {Text(1, 1, "Ren*")}), Names_{"Renamed"});
    ASSERT_EQ(dir->CreateAttribute("Fresh", 0, 42, nullptr, 0), S_OK);
    EXPECT_EQ(Find(QUERY_INDEXED, {Number(2, 1, 42)}), (Names_{"Renamed", "Fresh"}));
    ASSERT_EQ(dir->RemoveAttribute(a.Get()), S_OK);
    EXPECT_EQ(Find(QUERY_INDEXED, {Number(2, 1, 42)}), Names_{"Fresh"});
    Bytes(*dir.Get());
    ASSERT_EQ(dir->Clear(), S_OK);
    EXPECT_EQ(Find(QUERY_INDEXED, {Number(2, 1, 42)}), Names_{});
}

TEST(WildcardTest, MatchesAsTheTableSays)
{
    struct Row {
        const char* pattern;
        const char* text;
        int result;
    };
    const Row rows[] = {
        {"*", "", 1},
        {"?", "", 0},
        {"a*", "a", 1},
        {"*b", "abc", 0},
        {"*c", "abc", 1},
        {"a?c", "abc", 1},
        {"a?c", "ac", 0},
        {"a*b*c", "aXbYc", 1},
        {"", "a", 0},
        {"", "", 1},
        {"dir\\*", "dir\\file", 1},
        {"dir\\*", "dir\\sub\\file", 0},
        {"dir\\*", "dir\\\\file", 0},
        {"dir*", "dir\\sub", 1},
        {"a\\*\\b", "a\\x\\b", 0},
        {"A*", "abc", 0},
        {"*.ad", "settings.ad", 1},
        {"*.ad", "settings.adx", 0},
        {"s*?.ad", "s.ad", 0},
        {"**x", "abx", 1},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(MatchWildcard(r.pattern, r.text), r.result) << r.pattern << " / " << r.text;
        const std::u16string p(r.pattern, r.pattern + std::strlen(r.pattern));
        const std::u16string t(r.text, r.text + std::strlen(r.text));
        EXPECT_EQ(MatchWildcardW(p.c_str(), t.c_str()), r.result) << r.pattern << " / " << r.text;
    }
    EXPECT_EQ(MatchWildcardW(nullptr, u"x"), 1);
    EXPECT_EQ(MatchWildcardW(u"a\\*\\b", u"a\\*\\b"), 1); // the same characters
    EXPECT_EQ(MatchWildcard(nullptr, ""), 1);
}

TEST(CompareTest, OperatorsOnTextsAndBytes)
{
    EXPECT_EQ(CompareText("a*", "abc", 1), S_OK);
    EXPECT_EQ(CompareText("a*", "abc", 4), E_FAIL);
    EXPECT_EQ(CompareText("x*", "abc", 3), S_OK);
    EXPECT_EQ(CompareText("ABC", "abc", 7), S_OK);
    EXPECT_EQ(CompareText("ABC", "abc", 1), E_FAIL);
    EXPECT_EQ(CompareText("abc", "abc", 9), E_FAIL);
    const BYTE value[] = {1, 2, 3};
    const BYTE same[] = {1, 2, 3, 0};
    EXPECT_EQ(CompareBinary(value, 3, same, 4, 5), S_OK);
    EXPECT_EQ(CompareBinary(value, 3, same, 4, 2), E_FAIL);
    EXPECT_EQ(CompareBinary(value, 2, same, 4, 1), E_FAIL);
    EXPECT_EQ(CompareBinary(value, 3, same, 3, 1), E_FAIL); // a prefix is not equal
    EXPECT_EQ(CompareBinary(nullptr, 0, same, 1, 1), S_OK);
    EXPECT_EQ(CompareInteger(-1, 0, 2), S_OK);
    EXPECT_EQ(CompareInteger(5, 5, 7), E_FAIL);
}

} // namespace
