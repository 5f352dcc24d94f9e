#include "AttributeTestSupport.h"

using namespace attrtest;

namespace {

using DirectoryTest = AttributeStoreTest;

// A directory with every kind of value and two levels of sub-directories.
void Populate(CAttributeDirectory& dir)
{
    Ref<CAttribute> a;
    ASSERT_EQ(dir.CreateAttribute("ReplStatus", 4, 11005, a.Out(), 0), S_OK);
    a->SetFlag(1, 1);
    ASSERT_EQ(dir.CreateAttribute("UpdateInterval", 4, 11004, a.Out(), 0), S_OK);
    a->SetNumber(300000);
    a->SetUserWord(77);
    const FILETIME ft{0x01020304, 0x05060708};
    a->SetFileTime(&ft);
    ASSERT_EQ(dir.CreateAttribute("Blob", 9, 1, a.Out(), 0), S_OK);
    const BYTE bytes[] = {0, 1, 2, 0xFF, 0};
    a->SetBinary(bytes, 5);

    Ref<CAttributeDirectory> sub;
    ASSERT_EQ(dir.CreateDirectory("Sub", sub.Out()), S_OK);
    ASSERT_EQ(sub->CreateAttribute("Inner", 1, 2, a.Out(), 0), S_OK);
    a->SetString("inner value");
    Ref<CAttributeDirectory> deep;
    ASSERT_EQ(sub->CreateDirectory("Deep", deep.Out()), S_OK);
    ASSERT_EQ(deep->CreateAttribute("Deepest", 3, 3, a.Out(), 0), S_OK);
    a->SetString("bottom");
    ASSERT_EQ(dir.CreateAttribute("After", 4, 1, nullptr, 0), S_OK);
}

TEST_F(DirectoryTest, EmptyDirectoryIsAnEmptyStream)
{
    CAttributeDirectory dir;
    LONG size = -1;
    ASSERT_EQ(dir.GetSerializedSize(&size), S_OK);
    EXPECT_EQ(size, 0);
    size = 0;
    EXPECT_EQ(dir.Serialize(nullptr, &size), S_OK);
    EXPECT_EQ(dir.LoadFromBuffer(nullptr, 0), S_OK);
    EXPECT_EQ(Count(dir), 0);
    EXPECT_EQ(dir.LoadFromBuffer(nullptr, 10), E_POINTER);
    EXPECT_EQ(dir.LoadFromBuffer(reinterpret_cast<const BYTE*>("x"), -1), E_POINTER);
}

TEST_F(DirectoryTest, RecordStreamLayout)
{
    CAttributeDirectory dir;
    Ref<CAttribute> a;
    ASSERT_EQ(dir.CreateAttribute("Ab", 4, 11004, a.Out(), 0), S_OK);
    a->SetParam(-2);
    a->SetFlag(0x5, 1);
    a->SetString("xyz");
    a->SetUserWord(0x01020304);
    const FILETIME ft{0xAABBCCDD, 0x11223344};
    a->SetFileTime(&ft);
    const std::vector<BYTE> b = Bytes(dir);
    ASSERT_EQ(b.size(), 56u + 6 + 8);
    EXPECT_EQ(WordAt(b, 0), 4u);  // name length
    EXPECT_EQ(WordAt(b, 4), 6u);  // name size
    EXPECT_EQ(WordAt(b, 8), 0u);
    EXPECT_EQ(WordAt(b, 12), 11004u);
    EXPECT_EQ(WordAt(b, 16), 4u);
    EXPECT_EQ(WordAt(b, 20), 0xFFFFFFFEu);
    EXPECT_EQ(WordAt(b, 24), 0x5u);
    EXPECT_EQ(WordAt(b, 28), 0x5u);
    EXPECT_EQ(WordAt(b, 32), 6u); // value length
    EXPECT_EQ(WordAt(b, 36), 8u); // value size
    EXPECT_EQ(WordAt(b, 40), 0u);
    EXPECT_EQ(WordAt(b, 44), 0x01020304u);
    EXPECT_EQ(WordAt(b, 48), 0xAABBCCDDu);
    EXPECT_EQ(WordAt(b, 52), 0x11223344u);
    const std::vector<BYTE> tail(b.begin() + 56, b.end());
    EXPECT_EQ(tail, (std::vector<BYTE>{'A', 0, 'b', 0, 0, 0, 'x', 0, 'y', 0, 'z', 0, 0, 0}));
}

TEST_F(DirectoryTest, NestedDirectoriesRoundTripByteForByte)
{
    CAttributeDirectory dir;
    Populate(dir);
    const std::vector<BYTE> first = Bytes(dir);

    CAttributeDirectory again;
    ASSERT_EQ(Load(again, first), S_OK);
    EXPECT_EQ(Bytes(again), first);
    EXPECT_EQ(Names(again), (std::vector<std::string>{"ReplStatus", "UpdateInterval", "Blob", "After"}));
    EXPECT_EQ(Count(again), 5); // the sub-directory's record counts

    Ref<CAttributeDirectory> sub, deep;
    ASSERT_EQ(again.GetDirectory("sUB", sub.Out()), S_OK);
    EXPECT_EQ(Names(*sub.Get()), std::vector<std::string>{"Inner"});
    ASSERT_EQ(sub->GetDirectory("DEEP", deep.Out()), S_OK);
    Ref<CAttribute> a;
    ASSERT_EQ(deep->GetFirstAttribute(a.Out()), S_OK);
    EXPECT_EQ(StringOf(a.Get()), "bottom");

    // The sub-directory's record carries the sub-directory's stream as its value.
    const std::size_t at = [&] {
        std::size_t pos = 0;
        for (int i = 0; i < 3; ++i)
            pos += 56 + WordAt(first, pos + 4) + WordAt(first, pos + 36);
        return pos;
    }();
    EXPECT_EQ(WordAt(first, at + 28) & RECORD_DIRECTORY, RECORD_DIRECTORY);
    LONG subSize = 0;
    ASSERT_EQ(sub->GetSerializedSize(&subSize), S_OK);
    EXPECT_EQ(WordAt(first, at + 36), static_cast<DWORD>(subSize));
    EXPECT_EQ(WordAt(first, at + 32), static_cast<DWORD>(subSize));
}

TEST_F(DirectoryTest, SerializeReportsTheSizeItNeeds)
{
    CAttributeDirectory dir;
    Populate(dir);
    LONG needed = 0;
    ASSERT_EQ(dir.GetSerializedSize(&needed), S_OK);
    std::vector<BYTE> buffer(static_cast<std::size_t>(needed));
    LONG size = needed - 1;
    EXPECT_EQ(dir.Serialize(buffer.data(), &size), E_OUTOFMEMORY);
    EXPECT_EQ(size, needed);
    size = 0;
    EXPECT_EQ(dir.Serialize(nullptr, &size), E_OUTOFMEMORY);
    EXPECT_EQ(size, needed);
    size = 5;
    EXPECT_EQ(dir.Serialize(nullptr, &size), E_POINTER);
    EXPECT_EQ(size, needed);
    EXPECT_EQ(dir.Serialize(buffer.data(), nullptr), E_POINTER);
    EXPECT_EQ(Modified(dir), 1); // nothing was written
}

TEST_F(DirectoryTest, DamagedStreamFailsAndKeepsTheRecordsBeforeTheDamage)
{
    const RawRecord good = RawRecord::Named(u"Good").Value({1, 2, 3});
    std::vector<BYTE> bytes = Stream({good, RawRecord::Named(u"Cut").Value({4, 5, 6, 7})});

    struct Case {
        const char* what;
        std::vector<BYTE> stream;
    };
    std::vector<Case> cases;
    cases.push_back({"value cut short", std::vector<BYTE>(bytes.begin(), bytes.end() - 1)});
    cases.push_back({"header cut short", Stream({good})});
    cases.back().stream.resize(cases.back().stream.size() + 30, 0);
    RawRecord bigName = RawRecord::Named(u"Big");
    bigName.nameSize = 0xFFFFFFF0u; // would overflow a 32-bit sum
    cases.push_back({"huge name size", Stream({good, bigName})});
    RawRecord bigValue = RawRecord::Named(u"Big").Value({1});
    bigValue.valueSize = 0xFFFFFFFFu;
    cases.push_back({"huge value size", Stream({good, bigValue})});
    RawRecord noTerminator = RawRecord::Named(u"Name");
    noTerminator.nameLength = noTerminator.nameSize - 1;
    cases.push_back({"name without room for its terminator", Stream({good, noTerminator})});
    RawRecord longValue = RawRecord::Named(u"V").Value({1, 2});
    longValue.valueLength = 3;
    cases.push_back({"value length beyond its buffer", Stream({good, longValue})});

    for (const Case& c : cases) {
        CAttributeDirectory dir;
        EXPECT_EQ(Load(dir, c.stream), STG_E_PROPSETMISMATCHED) << c.what;
        EXPECT_EQ(Names(dir), std::vector<std::string>{"Good"}) << c.what;
    }
}

TEST_F(DirectoryTest, DamagedSubDirectoryFailsTheLoad)
{
    const std::vector<BYTE> inner = Stream({RawRecord::Named(u"In").Value({1, 2, 3})});
    std::vector<BYTE> broken(inner.begin(), inner.end() - 2);
    RawRecord sub = RawRecord::Named(u"Sub").Value(broken);
    sub.flags = RECORD_DIRECTORY;
    CAttributeDirectory dir;
    EXPECT_EQ(Load(dir, Stream({RawRecord::Named(u"Before"), sub, RawRecord::Named(u"After")})),
              STG_E_PROPSETMISMATCHED);
    EXPECT_EQ(Names(dir), std::vector<std::string>{"Before"});
    Ref<CAttributeDirectory> child;
    EXPECT_EQ(dir.GetDirectory("Sub", child.Out()), S_OK);
}

std::vector<BYTE> NestedStream(unsigned levels)
{
    std::vector<BYTE> stream = Stream({RawRecord::Named(u"Leaf")});
    for (unsigned i = 0; i < levels; ++i) {
        RawRecord r = RawRecord::Named(u"D").Value(stream);
        r.flags = RECORD_DIRECTORY;
        stream = Stream({r});
    }
    return stream;
}

TEST_F(DirectoryTest, NestingIsLimitedWhenLoadingAndWhenCreating)
{
    {
        Ref<CAttributeDirectory> d(new CAttributeDirectory);
        const std::vector<BYTE> deepest = NestedStream(CAttributeDirectory::kMaxDepth);
        ASSERT_EQ(Load(*d.Get(), deepest), S_OK);
        EXPECT_EQ(Bytes(*d.Get()), deepest);
        // The bottom directory cannot grow another level.
        for (unsigned i = 0; i < CAttributeDirectory::kMaxDepth; ++i) {
            Ref<CAttributeDirectory> next;
            ASSERT_EQ(d->GetDirectory("D", next.Out()), S_OK);
            d = std::move(next);
        }
        EXPECT_EQ(Names(*d.Get()), std::vector<std::string>{"Leaf"});
        Ref<CAttributeDirectory> tooDeep;
        EXPECT_EQ(d->CreateDirectory("More", tooDeep.Out()), E_FAIL);
    }
    CAttributeDirectory dir;
    EXPECT_EQ(Load(dir, NestedStream(CAttributeDirectory::kMaxDepth + 1)), STG_E_PROPSETMISMATCHED);
    EXPECT_EQ(Load(dir, NestedStream(100000 / 60)), STG_E_PROPSETMISMATCHED);
}

TEST_F(DirectoryTest, ModifiedFlagFollowsChangesSavesAndLoads)
{
    CAttributeDirectory dir;
    EXPECT_EQ(Modified(dir), 0);
    Populate(dir);
    EXPECT_EQ(Modified(dir), 1);
    const std::vector<BYTE> bytes = Bytes(dir);
    EXPECT_EQ(Modified(dir), 0);

    Ref<CAttributeDirectory> sub, deep;
    ASSERT_EQ(dir.GetDirectory("Sub", sub.Out()), S_OK);
    ASSERT_EQ(sub->GetDirectory("Deep", deep.Out()), S_OK);
    Ref<CAttribute> a;
    ASSERT_EQ(deep->GetFirstAttribute(a.Out()), S_OK);
    a->SetId(99);
    EXPECT_EQ(Modified(dir), 1); // a change two levels down
    EXPECT_EQ(Modified(*sub.Get()), 1);
    Bytes(dir);
    EXPECT_EQ(Modified(*deep.Get()), 0); // saving the parent saved the children

    ASSERT_EQ(dir.RemoveDirectory("sub"), S_OK);
    EXPECT_EQ(Modified(dir), 1);
    CAttributeDirectory loaded;
    ASSERT_EQ(Load(loaded, bytes), S_OK);
    EXPECT_EQ(Modified(loaded), 0);
    ASSERT_EQ(loaded.Clear(), S_OK);
    EXPECT_EQ(Modified(loaded), 1);
    EXPECT_EQ(Count(loaded), 0);
}

TEST_F(DirectoryTest, UniqueFlagRefusesAnEqualAttribute)
{
    CAttributeDirectory dir;
    ASSERT_EQ(dir.CreateAttribute("Name", 4, 1, nullptr, 0), S_OK);
    EXPECT_EQ(dir.CreateAttribute("Name", 4, 1, nullptr, 0), S_OK);
    EXPECT_EQ(dir.CreateAttribute("NAME", 4, 1, nullptr, 1), E_FAIL);
    EXPECT_EQ(dir.CreateAttribute("Name", 4, 2, nullptr, 1), S_OK);
    EXPECT_EQ(Count(dir), 3);

    CAttributeDirectory other;
    Ref<CAttribute> a;
    ASSERT_EQ(other.CreateAttribute("Name", 4, 1, a.Out(), 0), S_OK);
    a->SetParam(5);
    EXPECT_EQ(other.CreateAttribute("Name", 4, 1, nullptr, 1), S_OK); // param differs
}

TEST_F(DirectoryTest, SubDirectoryNamesClashInAnyLetterCase)
{
    CAttributeDirectory dir;
    Ref<CAttributeDirectory> sub;
    ASSERT_EQ(dir.CreateDirectory("Folder", sub.Out()), S_OK);
    EXPECT_EQ(dir.CreateAttribute("FOLDER", 0, 7, nullptr, 0), E_FAIL);
    Ref<CAttributeDirectory> again;
    EXPECT_EQ(dir.CreateDirectory("folder", again.Out()), E_FAIL);
    EXPECT_FALSE(again);
    EXPECT_EQ(dir.GetDirectory("Missing", again.Out()), E_FAIL);
    EXPECT_EQ(dir.RemoveDirectory("Missing"), E_FAIL);
    EXPECT_EQ(dir.CreateDirectory(nullptr, again.Out()), E_INVALIDARG);
    EXPECT_EQ(dir.CreateDirectory("x", nullptr), E_POINTER);
}

TEST_F(DirectoryTest, RemovedRecordIsInvisibleUncountedAndNotSaved)
{
    CAttributeDirectory dir;
    Ref<CAttribute> a, b;
    ASSERT_EQ(dir.CreateAttribute("Keep", 1, 1, a.Out(), 0), S_OK);
    ASSERT_EQ(dir.CreateAttribute("Drop", 1, 2, b.Out(), 0), S_OK);
    const std::vector<BYTE> keepOnly = [] {
        CAttributeDirectory d;
        d.CreateAttribute("Keep", 1, 1, nullptr, 0);
        return Bytes(d);
    }();
    ASSERT_EQ(dir.RemoveAttribute(b.Get()), S_OK);
    EXPECT_EQ(Names(dir), std::vector<std::string>{"Keep"});
    EXPECT_EQ(Count(dir), 1);
    EXPECT_EQ(Bytes(dir), keepOnly);
    Ref<CAttribute> last;
    ASSERT_EQ(dir.GetLastAttribute(last.Out()), S_OK);
    EXPECT_EQ(NameOf(last.Get()), "Keep");
    EXPECT_EQ(dir.RemoveAttribute(b.Get()), E_FAIL); // already gone
}

// Removing through a handle removes that very record, not an earlier one
// whose value merely begins with the same bytes.
TEST_F(DirectoryTest, RemovalTakesTheGivenRecordNotALookAlike)
{
    CAttributeDirectory dir;
    Ref<CAttribute> longer, shorter;
    ASSERT_EQ(dir.CreateAttribute("Path", 4, 1, longer.Out(), 0), S_OK);
    longer->SetString("abcdef");
    ASSERT_EQ(dir.CreateAttribute("Path", 4, 1, shorter.Out(), 0), S_OK);
    shorter->SetString("abc");

    ASSERT_EQ(dir.RemoveAttribute(shorter.Get()), S_OK);
    Ref<CAttribute> left;
    ASSERT_EQ(dir.GetFirstAttribute(left.Out()), S_OK);
    EXPECT_EQ(StringOf(left.Get()), "abcdef");
    EXPECT_EQ(Count(dir), 1);

    // Removing the same record again must not take the other one instead.
    AttributeRecord* gone = nullptr;
    ASSERT_EQ(shorter->GetRecord(&gone), S_OK);
    EXPECT_EQ(dir.RemoveRecord(gone), E_FAIL);
    EXPECT_EQ(Count(dir), 1);

    // A record that is not the directory's own is matched by its content.
    AttributeRecord copy = *gone;
    copy.value = nullptr;
    copy.valueLength = copy.valueSize = 0;
    EXPECT_EQ(dir.RemoveRecord(&copy), S_OK);
    EXPECT_EQ(Count(dir), 0);
}

TEST_F(DirectoryTest, AttributeCursorWalksBothWays)
{
    CAttributeDirectory dir;
    Ref<CAttribute> a;
    EXPECT_EQ(dir.GetFirstAttribute(a.Out()), E_OUTOFMEMORY);
    EXPECT_FALSE(a);
    EXPECT_EQ(dir.GetLastAttribute(a.Out()), E_OUTOFMEMORY);
    ASSERT_EQ(dir.CreateAttribute("Only", 0, 0, nullptr, 0), S_OK);

    Ref<CAttribute> first, last;
    ASSERT_EQ(dir.GetFirstAttribute(first.Out()), S_OK);
    AttributeRecord* r1 = nullptr;
    AttributeRecord* r2 = nullptr;
    first->GetRecord(&r1);
    EXPECT_EQ(dir.GetPreviousAttribute(a.Out()), E_OUTOFMEMORY);
    ASSERT_EQ(dir.GetLastAttribute(last.Out()), S_OK);
    last->GetRecord(&r2);
    EXPECT_EQ(r1, r2);
    EXPECT_EQ(dir.GetNextAttribute(a.Out()), E_OUTOFMEMORY);
    EXPECT_EQ(dir.GetNextAttribute(a.Out()), E_OUTOFMEMORY);
    ASSERT_EQ(dir.GetPreviousAttribute(a.Out()), S_OK);
    EXPECT_EQ(NameOf(a.Get()), "Only");
    EXPECT_EQ(dir.GetFirstAttribute(nullptr), E_POINTER);
}

TEST_F(DirectoryTest, TwoSubDirectoriesOfOneNameBothLoad)
{
    RawRecord first = RawRecord::Named(u"Twin").Value(Stream({RawRecord::Named(u"One")}));
    first.flags = RECORD_DIRECTORY;
    RawRecord second = RawRecord::Named(u"TWIN").Value(Stream({RawRecord::Named(u"Two")}));
    second.flags = RECORD_DIRECTORY;
    CAttributeDirectory dir;
    const std::vector<BYTE> bytes = Stream({first, second});
    ASSERT_EQ(Load(dir, bytes), S_OK);
    EXPECT_EQ(Bytes(dir), bytes);

    Ref<CAttributeDirectory> child;
    ASSERT_EQ(dir.GetDirectory("twin", child.Out()), S_OK);
    EXPECT_EQ(Names(*child.Get()), std::vector<std::string>{"Two"});

    std::vector<std::string> walked;
    char name[16];
    for (HRESULT hr = dir.GetFirstDirectoryName(nullptr, name, sizeof name); hr == S_OK;
         hr = dir.GetNextDirectoryName(nullptr, name, sizeof name))
        walked.push_back(name);
    EXPECT_EQ(walked, (std::vector<std::string>{"Twin", "TWIN"}));

    // Removing the later one leaves the earlier one findable by name.
    ASSERT_EQ(dir.RemoveDirectory("Twin"), S_OK);
    ASSERT_EQ(dir.GetDirectory("twin", child.Out()), S_OK);
    EXPECT_EQ(Names(*child.Get()), std::vector<std::string>{"One"});
    EXPECT_EQ(Count(dir), 1);
}

TEST_F(DirectoryTest, SubDirectoryWalkHandsOutNamesAndReferences)
{
    CAttributeDirectory dir;
    Ref<CAttributeDirectory> made;
    ASSERT_EQ(dir.CreateDirectory("Alpha", made.Out()), S_OK);
    ASSERT_EQ(dir.CreateDirectory("Beta", made.Out()), S_OK);
    made.Reset();

    Ref<CAttributeDirectory> d;
    char name[4] = {'x', 'x', 'x', 'x'};
    ASSERT_EQ(dir.GetFirstDirectoryName(d.Out(), name, sizeof name), S_OK);
    EXPECT_STREQ(name, "Alp"); // cut to the buffer and terminated
    EXPECT_TRUE(d);
    EXPECT_EQ(dir.GetPreviousDirectoryName(d.Out(), name, sizeof name), E_OUTOFMEMORY);
    EXPECT_FALSE(d);
    char full[16];
    ASSERT_EQ(dir.GetLastDirectoryName(d.Out(), full, sizeof full), S_OK);
    EXPECT_STREQ(full, "Beta");
    EXPECT_EQ(dir.GetNextDirectoryName(nullptr, full, sizeof full), E_OUTOFMEMORY);
    ASSERT_EQ(dir.GetPreviousDirectoryName(d.Out(), full, sizeof full), S_OK);
    EXPECT_STREQ(full, "Beta");
    ASSERT_EQ(dir.GetPreviousDirectoryName(d.Out(), full, sizeof full), S_OK);
    EXPECT_STREQ(full, "Alpha");
    EXPECT_EQ(dir.GetLastDirectoryName(nullptr, full, sizeof full), E_POINTER);
    EXPECT_EQ(dir.GetFirstDirectoryName(nullptr, nullptr, 5), E_INVALIDARG);

    // A sub-directory the caller still holds outlives its parent's release of it.
    ASSERT_EQ(dir.RemoveDirectory("Alpha"), S_OK);
    ASSERT_EQ(dir.GetFirstDirectoryName(nullptr, full, sizeof full), S_OK);
    EXPECT_STREQ(full, "Beta");
    ASSERT_EQ(d->CreateAttribute("StillThere", 0, 0, nullptr, 0), S_OK);
}

// Reading a source to copy it does not mark the source saved.
TEST_F(DirectoryTest, CopyDirectoryCopiesWithoutTouchingTheSource)
{
    CAttributeDirectory source;
    Populate(source);
    const std::vector<BYTE> expected = Bytes(source);
    Ref<CAttribute> a;
    ASSERT_EQ(source.GetFirstAttribute(a.Out()), S_OK);
    a->SetId(11005); // unchanged value, but a change all the same

    CAttributeDirectory dir;
    Ref<CAttributeDirectory> copy;
    ASSERT_EQ(dir.CopyDirectory("Copy", &source, copy.Out()), S_OK);
    EXPECT_EQ(Modified(source), 1);
    EXPECT_EQ(Bytes(*copy.Get()), expected);

    ASSERT_EQ(copy->GetFirstAttribute(a.Out()), S_OK);
    a->SetString("changed in the copy");
    Ref<CAttribute> original;
    ASSERT_EQ(source.GetFirstAttribute(original.Out()), S_OK);
    EXPECT_EQ(StringOf(original.Get()), "");

    Ref<CAttributeDirectory> again;
    EXPECT_EQ(dir.CopyDirectory("copy", &source, again.Out()), E_FAIL);
    EXPECT_EQ(dir.CopyDirectory("X", nullptr, again.Out()), E_INVALIDARG);
}

TEST_F(DirectoryTest, CopyIntoItselfEnds)
{
    CAttributeDirectory dir;
    ASSERT_EQ(dir.CreateAttribute("A", 0, 1, nullptr, 0), S_OK);
    ASSERT_EQ(dir.CreateAttribute("B", 0, 2, nullptr, 0), S_OK);
    ASSERT_EQ(dir.AddFromDirectory(&dir, 0), S_OK);
    EXPECT_EQ(Names(dir), (std::vector<std::string>{"A", "B", "A", "B"}));
    ASSERT_EQ(dir.AddFromDirectory(&dir, 1), S_OK); // every copy a duplicate
    EXPECT_EQ(Count(dir), 4);

    Ref<CAttributeList> all;
    ASSERT_EQ(dir.GetAllAttributes(all.Out()), S_OK);
    ASSERT_EQ(dir.AddFromList(all.Get(), 0), S_OK);
    EXPECT_EQ(Count(dir), 8);
}

TEST_F(DirectoryTest, GetAllAttributesListsEveryVisibleAttribute)
{
    CAttributeDirectory dir;
    Populate(dir);
    Ref<CAttribute> a;
    ASSERT_EQ(dir.GetFirstAttribute(a.Out()), S_OK);
    ASSERT_EQ(dir.RemoveAttribute(a.Get()), S_OK);
    Ref<CAttributeList> all;
    ASSERT_EQ(dir.GetAllAttributes(all.Out()), S_OK);
    EXPECT_EQ(Names(all.Get()), (std::vector<std::string>{"UpdateInterval", "Blob", "After"}));
    EXPECT_EQ(dir.GetAllAttributes(nullptr), E_POINTER);
}

TEST_F(DirectoryTest, AddRecordCopiesTheCallersRecordSafely)
{
    CAttributeDirectory dir;
    std::u16string name = u"Given";
    BYTE value[] = {5, 6, 7};
    AttributeRecord r;
    r.name = name.data();
    r.nameLength = 40; // claims more than the buffer holds
    r.nameSize = 12;
    r.value = value;
    r.valueLength = 10;
    r.valueSize = 3;
    r.flags = RECORD_DIRECTORY | RECORD_BINARY;
    Ref<CAttribute> a;
    ASSERT_EQ(dir.AddRecord(&r, a.Out(), 0), S_OK);
    EXPECT_EQ(NameOf(a.Get()), "Given");
    DWORD n = 0;
    a->GetNumber(&n);
    EXPECT_EQ(n, RECORD_BINARY); // not a sub-directory entry without a sub-directory
    std::array<BYTE, 8> out{};
    DWORD count = 8;
    ASSERT_EQ(a->GetBinary(out.data(), &count), S_OK);
    EXPECT_EQ(out[2], 7);
    EXPECT_EQ(Names(dir), std::vector<std::string>{"Given"});
    ASSERT_EQ(dir.AddAttributeCopy(a.Get(), nullptr, 0), S_OK);
    EXPECT_EQ(dir.AddAttributeCopy(a.Get(), nullptr, 1), E_FAIL);
    EXPECT_EQ(dir.AddRecord(nullptr, nullptr, 0), E_INVALIDARG);
    EXPECT_EQ(Bytes(dir).size(), 2u * (56 + 12 + 3));
}

BOOL TakeAppId(CAttribute* a, std::uintptr_t wanted)
{
    LONG appId = 0;
    a->GetAppId(&appId);
    return appId == static_cast<LONG>(wanted) ? 1 : 0;
}

TEST_F(DirectoryTest, FindAttributesCollectsWhatTheFilterTakes)
{
    CAttributeDirectory dir;
    Populate(dir);
    Ref<CAttributeList> list;
    Ref<CAttribute> first;
    ASSERT_EQ(dir.FindAttributes(TakeAppId, 4, list.Out(), first.Out()), S_OK);
    EXPECT_EQ(NameOf(first.Get()), "ReplStatus");
    EXPECT_EQ(Names(list.Get()), (std::vector<std::string>{"ReplStatus", "UpdateInterval", "After"}));

    EXPECT_EQ(dir.FindAttributes(TakeAppId, 12345, list.Out(), first.Out()), E_OUTOFMEMORY);
    EXPECT_FALSE(list);
    EXPECT_FALSE(first);
    ASSERT_EQ(dir.FindAttributes(TakeAppId, 12345, list.Out(), nullptr), S_OK);
    EXPECT_TRUE(Names(list.Get()).empty());
    EXPECT_EQ(dir.FindAttributes(nullptr, 0, list.Out(), nullptr), E_INVALIDARG);
    EXPECT_EQ(dir.FindAttributes(TakeAppId, 0, nullptr, nullptr), E_POINTER);
}

TEST_F(DirectoryTest, HeapDirectoryLivesWhileReferenced)
{
    auto* dir = new CAttributeDirectory;
    EXPECT_EQ(dir->AddRef(), 2u);
    EXPECT_EQ(dir->Release(), 1u);
    Ref<CAttributeDirectory> sub;
    ASSERT_EQ(dir->CreateDirectory("Sub", sub.Out()), S_OK);
    EXPECT_EQ(LiveAttributeObjects(AttributeClass::Directory), 2);
    EXPECT_EQ(dir->Release(), 0u);
    EXPECT_EQ(LiveAttributeObjects(AttributeClass::Directory), 1); // the caller's reference keeps it
    ASSERT_EQ(sub->CreateAttribute("Fine", 0, 0, nullptr, 0), S_OK);
}

} // namespace
