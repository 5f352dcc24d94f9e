#include "AttributeTestSupport.h"

using namespace attrtest;

namespace {

class ListTest : public AttributeStoreTest {
protected:
    void SetUp() override
    {
        for (int i = 1; i <= 4; ++i) {
            const std::string name = "Item" + std::to_string(i);
            ASSERT_EQ(dir->CreateAttribute(name.c_str(), 1, i, nullptr, 0), S_OK);
        }
    }
    void TearDown() override
    {
        dir.Reset();
        AttributeStoreTest::TearDown();
    }

    Ref<CAttributeList> All()
    {
        Ref<CAttributeList> list;
        EXPECT_EQ(dir->GetAllAttributes(list.Out()), S_OK);
        return list;
    }
    // A list of the records with these ids, in the order given.
    Ref<CAttributeList> WithIds(std::initializer_list<LONG> ids)
    {
        Ref<CAttributeList> all = All();
        AttributeRecordSequence records;
        for (LONG id : ids) {
            for (AttributeRecord* r : all->Records()) {
                if (r->id == id)
                    records.push_back(r);
            }
        }
        Ref<CAttributeList> list;
        EXPECT_EQ(CAttributeList::CreateResult(records, dir.Get(), list.Out(), nullptr), S_OK);
        return list;
    }
    static LONG CountOf(CAttributeList* list)
    {
        LONG n = -1;
        EXPECT_EQ(list->GetCount(&n), S_OK);
        return n;
    }

    Ref<CAttributeDirectory> dir{new CAttributeDirectory};
};

using Names_ = std::vector<std::string>;

BOOL TakeAll(CAttribute*, std::uintptr_t seen)
{
    ++*reinterpret_cast<int*>(seen);
    return 1;
}

TEST_F(ListTest, ARemovedRecordIsSkippedButStillOffered)
{
    Ref<CAttributeList> list = WithIds({2});
    ASSERT_EQ(list->RemoveRecord(list->Records().front()), S_OK);
    Ref<CAttribute> a;
    EXPECT_EQ(list->GetFirst(a.Out()), E_OUTOFMEMORY);
    EXPECT_EQ(list->GetLast(a.Out()), E_OUTOFMEMORY);
    EXPECT_FALSE(a);
    EXPECT_EQ(CountOf(list.Get()), 0);
    LONG size = -1;
    ASSERT_EQ(list->GetSerializedSize(&size), S_OK);
    EXPECT_EQ(size, 0);
    int seen = 0;
    Ref<CAttributeList> found;
    ASSERT_EQ(list->FindAttributes(TakeAll, reinterpret_cast<std::uintptr_t>(&seen), found.Out(), nullptr), S_OK);
    EXPECT_EQ(seen, 1);
    EXPECT_EQ(Count(*dir.Get()), 3);
}

TEST_F(ListTest, CursorStopsAtBothEnds)
{
    Ref<CAttributeList> list = All();
    Ref<CAttribute> a;
    ASSERT_EQ(list->GetFirst(a.Out()), S_OK);
    EXPECT_EQ(list->GetPrevious(a.Out()), E_OUTOFMEMORY);
    EXPECT_FALSE(a);
    ASSERT_EQ(list->GetLast(a.Out()), S_OK);
    EXPECT_EQ(NameOf(a.Get()), "Item4");

    CAttribute* untouched = reinterpret_cast<CAttribute*>(0x1234);
    EXPECT_EQ(list->GetNext(a.Out()), E_OUTOFMEMORY);
    EXPECT_EQ(list->GetNext(&untouched), E_OUTOFMEMORY); // already at the end: left as it was
    EXPECT_EQ(untouched, reinterpret_cast<CAttribute*>(0x1234));
    ASSERT_EQ(list->GetPrevious(a.Out()), S_OK);
    EXPECT_EQ(NameOf(a.Get()), "Item4");
    ASSERT_EQ(list->GetPrevious(a.Out()), S_OK);
    EXPECT_EQ(NameOf(a.Get()), "Item3");

    // Walking back over removed records to none leaves the cursor on the first record.
    Ref<CAttributeList> tail = WithIds({1, 2, 3});
    tail->RemoveRecord(tail->Records().front());
    ASSERT_EQ(tail->GetFirst(a.Out()), S_OK);
    EXPECT_EQ(NameOf(a.Get()), "Item2");
    EXPECT_EQ(tail->GetPrevious(a.Out()), E_OUTOFMEMORY);
    ASSERT_EQ(tail->GetNext(a.Out()), S_OK);
    EXPECT_EQ(NameOf(a.Get()), "Item2");
    EXPECT_EQ(list->GetFirst(nullptr), E_INVALIDARG);
}

TEST_F(ListTest, SerializedListLoadsIntoAnotherDirectoryInOrder)
{
    Ref<CAttributeList> list = WithIds({3, 1, 4});
    Ref<CAttribute> a;
    ASSERT_EQ(list->GetFirst(a.Out()), S_OK);
    a->SetString("value of three");
    LONG size = 0;
    ASSERT_EQ(list->GetSerializedSize(&size), S_OK);
    std::vector<BYTE> bytes(static_cast<std::size_t>(size));
    LONG small = size - 1;
    EXPECT_EQ(list->Serialize(bytes.data(), &small), E_OUTOFMEMORY);
    EXPECT_EQ(small, size);
    ASSERT_EQ(list->Serialize(bytes.data(), &size), S_OK);

    Ref<CAttributeDirectory> other(new CAttributeDirectory);
    Ref<CAttributeList> target;
    ASSERT_EQ(other->GetAllAttributes(target.Out()), S_OK);
    ASSERT_EQ(target->LoadFromBuffer(bytes.data(), size), S_OK);
    EXPECT_EQ(Names(target.Get()), (Names_{"Item3", "Item1", "Item4"}));
    EXPECT_EQ(Names(*other.Get()), (Names_{"Item3", "Item1", "Item4"}));
    ASSERT_EQ(target->GetFirst(a.Out()), S_OK);
    EXPECT_EQ(StringOf(a.Get()), "value of three");

    // Loading the same records again stops at the first duplicate.
    EXPECT_EQ(target->LoadFromBuffer(bytes.data(), size), E_FAIL);
    EXPECT_EQ(CountOf(target.Get()), 3);
    EXPECT_EQ(target->LoadFromBuffer(bytes.data(), size - 1), E_FAIL);
    EXPECT_EQ(target->LoadFromBuffer(nullptr, 4), E_POINTER);
}

TEST_F(ListTest, IndexedQueryStaysInsideTheList)
{
    Ref<CAttribute> a;
    ASSERT_EQ(dir->CreateAttribute("Five", 1, 5, nullptr, 0), S_OK);
    ASSERT_EQ(dir->CreateAttribute("AlsoFive", 1, 5, nullptr, 0), S_OK);
    Ref<CAttributeList> list = WithIds({1, 5});
    Ref<CAttributeList> outside = WithIds({1});
    for (DWORD strategy : {0u, QUERY_INDEXED, QUERY_MATCHER}) {
        Ref<CAttributeQuery> q = MakeQuery({Number(2, 1, 5)});
        if (strategy != 0)
            q->AddCriterion(strategy, 0, 0, 0);
        Ref<CAttributeList> found;
        ASSERT_EQ(list->QueryAttributes(q.Get(), found.Out(), nullptr), S_OK);
        EXPECT_EQ(Names(found.Get()), (Names_{"Five", "AlsoFive"})) << strategy;
        ASSERT_EQ(outside->QueryAttributes(q.Get(), found.Out(), nullptr), S_OK);
        EXPECT_TRUE(Names(found.Get()).empty()) << strategy;
    }
}

// A save clears the modified flag; the list's indexes must still see the
// change made before it.
TEST_F(ListTest, ListIndexesSeeChangesAcrossASave)
{
    Ref<CAttributeList> list = All();
    Ref<CAttributeQuery> q = MakeQuery({Number(QUERY_INDEXED, 0, 0), Number(2, 1, 77)});
    Ref<CAttributeList> found;
    ASSERT_EQ(list->QueryAttributes(q.Get(), found.Out(), nullptr), S_OK);
    EXPECT_TRUE(Names(found.Get()).empty());

    Ref<CAttribute> a;
    ASSERT_EQ(list->GetLast(a.Out()), S_OK);
    a->SetId(77);
    Bytes(*dir.Get());
    ASSERT_EQ(Modified(*dir.Get()), 0);
    ASSERT_EQ(list->QueryAttributes(q.Get(), found.Out(), nullptr), S_OK);
    EXPECT_EQ(Names(found.Get()), Names_{"Item4"});
}

TEST_F(ListTest, BulkSettersChangeTheRecordsThatAreNotRemoved)
{
    Ref<CAttributeList> list = All();
    Ref<CAttribute> odd;
    ASSERT_EQ(list->GetFirst(odd.Out()), S_OK);
    odd->SetAppId(0x20000000); // an app id is only a number
    Ref<CAttribute> gone;
    ASSERT_EQ(list->GetLast(gone.Out()), S_OK);
    ASSERT_EQ(list->RemoveAttribute(gone.Get()), S_OK);

    Bytes(*dir.Get());
    ASSERT_EQ(list->SetUserWordAll(9), S_OK);
    EXPECT_EQ(Modified(*dir.Get()), 1);
    ASSERT_EQ(list->SetAppIdAll(3), S_OK);
    ASSERT_EQ(list->SetFlagsAll(0xFFFFFFFF, 0x30000006), S_OK);
    ASSERT_EQ(list->SetMarkAll(), S_OK);
    DWORD word = 0;
    LONG appId = 0;
    BYTE unmarked = 1;
    odd->GetUserWord(&word);
    odd->GetAppId(&appId);
    odd->IsUnmarked(&unmarked);
    EXPECT_EQ(word, 9u);
    EXPECT_EQ(appId, 3);
    EXPECT_EQ(unmarked, 0);
    DWORD mask = 0, values = 0;
    odd->GetFlags(&mask, &values);
    EXPECT_EQ(values, 0x6u);
    gone->GetUserWord(&word);
    EXPECT_EQ(word, 0u);
    DWORD flags = 0;
    gone->GetNumber(&flags);
    EXPECT_EQ(flags & RECORD_REMOVED, RECORD_REMOVED); // stays removed

    ASSERT_EQ(list->ClearMarkAll(), S_OK);
    odd->IsUnmarked(&unmarked);
    EXPECT_EQ(unmarked, 1);
}

TEST_F(ListTest, RemoveAllTakesExactlyTheListsRecords)
{
    ASSERT_EQ(dir->CreateAttribute("Item2", 1, 2, nullptr, 0), S_OK); // a look-alike outside the list
    Ref<CAttributeList> all = All();
    AttributeRecordSequence second(std::next(all->Records().begin(), 4), all->Records().end());
    Ref<CAttributeList> list;
    ASSERT_EQ(CAttributeList::CreateResult(second, dir.Get(), list.Out(), nullptr), S_OK);
    ASSERT_EQ(list->RemoveAll(), S_OK);
    EXPECT_EQ(CountOf(list.Get()), 0);
    EXPECT_EQ(Names(*dir.Get()), (Names_{"Item1", "Item2", "Item3", "Item4"}));
}

TEST_F(ListTest, AttributesAddedThroughTheListJoinIt)
{
    Ref<CAttributeList> list = WithIds({1});
    Ref<CAttribute> a;
    ASSERT_EQ(list->CreateAttribute("New", 1, 10, a.Out(), 0), S_OK);
    ASSERT_EQ(list->CreateAttribute("Quiet", 1, 11, nullptr, 0), S_OK);
    EXPECT_EQ(list->CreateAttribute("Item1", 1, 1, nullptr, 1), E_FAIL);
    ASSERT_EQ(list->AddAttributeCopy(a.Get(), nullptr, 0), S_OK);
    EXPECT_EQ(Names(list.Get()), (Names_{"Item1", "New", "Quiet", "New"}));
    EXPECT_EQ(Count(*dir.Get()), 7);

    Ref<CAttributeList> copies = WithIds({2, 3});
    ASSERT_EQ(list->AddFromList(copies.Get(), 0), S_OK);
    ASSERT_EQ(list->AddFromList(list.Get(), 1), S_OK); // into itself: all duplicates, and it ends
    EXPECT_EQ(CountOf(list.Get()), 6);
    EXPECT_EQ(list->AddFromDirectory(nullptr, 0), E_INVALIDARG);

    CAttributeList unbound;
    EXPECT_EQ(unbound.CreateAttribute("X", 0, 0, nullptr, 0), E_FAIL);
    EXPECT_EQ(unbound.FillFromDirectory({}, nullptr), E_INVALIDARG);
}

} // namespace
