#include "AttributeTestSupport.h"

#include <array>
#include <functional>

using namespace attrtest;

namespace {

class AttributeTest : public AttributeStoreTest {
protected:
    void SetUp() override { ASSERT_EQ(dir.CreateAttribute("Setting", 4, 11005, a.Out(), 0), S_OK); }
    void TearDown() override
    {
        a.Reset();
        owner.Reset();
        AttributeStoreTest::TearDown();
    }

    LONG Flag(DWORD bits)
    {
        LONG state = 99;
        EXPECT_EQ(a->GetFlag(bits, &state), S_OK);
        return state;
    }
    DWORD Number()
    {
        DWORD n = 0;
        EXPECT_EQ(a->GetNumber(&n), S_OK);
        return n;
    }

    Ref<CAttributeDirectory> owner{new CAttributeDirectory};
    CAttributeDirectory& dir = *owner.Get();
    Ref<CAttribute> a;
};

TEST_F(AttributeTest, FlagBitsAreDefinedSetClearedAndUndefinedAgain)
{
    EXPECT_EQ(Flag(0x2), -1);
    ASSERT_EQ(a->SetFlag(0x2, 1), S_OK);
    EXPECT_EQ(Flag(0x2), 1);
    ASSERT_EQ(a->SetFlag(0x2, 0), S_OK);
    EXPECT_EQ(Flag(0x2), 0);
    ASSERT_EQ(a->SetFlag(0x2, 2), S_OK); // only exactly 1 switches on
    EXPECT_EQ(Flag(0x2), 0);
    ASSERT_EQ(a->SetFlag(0x2, 1), S_OK);
    ASSERT_EQ(a->ClearFlags(0x2), S_OK);
    EXPECT_EQ(Flag(0x2), -1);

    // Bits above 27 are dropped by the setters.
    ASSERT_EQ(a->SetFlag(0xF0000001, 1), S_OK);
    DWORD mask = 0, values = 0;
    ASSERT_EQ(a->GetFlags(&mask, &values), S_OK);
    EXPECT_EQ(mask, 0x1u);
    EXPECT_EQ(values, 0x1u);
    ASSERT_EQ(a->SetFlags(0xFFFFFFFF, 0xA0000003), S_OK);
    ASSERT_EQ(a->GetFlags(&mask, &values), S_OK);
    EXPECT_EQ(mask, 0x0FFFFFFFu);
    EXPECT_EQ(values, 0x3u);
}

TEST_F(AttributeTest, NumberIsKeptInTwentyEightBitsAndReplacesTheRecordBits)
{
    ASSERT_EQ(a->SetNumber(300000), S_OK);
    EXPECT_EQ(Number(), 300000u);
    ASSERT_EQ(a->SetNumber(0x10000000u | 42u), S_OK);
    EXPECT_EQ(Number(), 42u);

    const BYTE bytes[] = {1, 2, 3};
    ASSERT_EQ(a->SetBinary(bytes, 3), S_OK);
    EXPECT_EQ(Number() & RECORD_BINARY, RECORD_BINARY);
    ASSERT_EQ(a->SetString("x"), S_OK);
    EXPECT_EQ(Number() & RECORD_BINARY, 0u);
    ASSERT_EQ(a->SetBinary(bytes, 3), S_OK);
    ASSERT_EQ(a->SetMark(), S_OK);
    ASSERT_EQ(a->SetNumber(7), S_OK);
    EXPECT_EQ(Number(), 7u);
}

TEST_F(AttributeTest, StringProtocolReportsSizesInCharactersWithTerminator)
{
    ASSERT_EQ(a->SetString("abc"), S_OK);
    LONG count = 0;
    EXPECT_EQ(a->GetString(nullptr, &count), E_OUTOFMEMORY);
    EXPECT_EQ(count, 4);

    char three[3] = {'x', 'x', 'x'};
    count = 3;
    EXPECT_EQ(a->GetString(three, &count), E_OUTOFMEMORY);
    EXPECT_EQ(count, 4);
    EXPECT_EQ(three[0], 'x');

    char four[4] = {'x', 'x', 'x', 'x'};
    count = 4;
    EXPECT_EQ(a->GetString(four, &count), S_OK);
    EXPECT_EQ(std::string(four, 4), std::string("abc\0", 4));
    EXPECT_EQ(count, 3);

    // A null buffer with room claimed only reports the size.
    count = 10;
    EXPECT_EQ(a->GetString(nullptr, &count), S_OK);
    EXPECT_EQ(count, 4);
    EXPECT_EQ(a->GetString(four, nullptr), E_POINTER);

    ASSERT_EQ(a->SetString(""), S_OK);
    count = 4;
    EXPECT_EQ(a->GetString(four, &count), E_FAIL);
    EXPECT_EQ(count, 0);

    count = 0;
    EXPECT_EQ(a->GetName(nullptr, &count), E_OUTOFMEMORY);
    EXPECT_EQ(count, 8);
    EXPECT_EQ(NameOf(a.Get()), "Setting");
}

TEST_F(AttributeTest, StringValueIsUtf16WithTerminatorAndOemAtTheInterface)
{
    ASSERT_EQ(a->SetString("\x80z"), S_OK); // OEM 0x80 is a C cedilla
    AttributeRecord* r = nullptr;
    ASSERT_EQ(a->GetRecord(&r), S_OK);
    EXPECT_EQ(r->valueLength, 4u);
    EXPECT_EQ(r->valueSize, 6u);
    const std::array<BYTE, 6> expected = {0xC7, 0x00, 'z', 0x00, 0x00, 0x00};
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), r->value));
    EXPECT_EQ(StringOf(a.Get()), "\x80z");

    // A character the OEM page lacks comes out as '?'.
    const char16_t wide[] = u"\u4E2Dx";
    attrib::AssignValue(*r, wide, 4, 6);
    EXPECT_EQ(StringOf(a.Get()), "?x");
}

TEST_F(AttributeTest, BinaryValueCopiesOnlyItsLengthAndReportsShortBuffers)
{
    const BYTE bytes[] = {9, 8, 7, 6};
    ASSERT_EQ(a->SetBinary(bytes, 4), S_OK);
    std::array<BYTE, 10> big{};
    DWORD count = 10;
    EXPECT_EQ(a->GetBinary(big.data(), &count), S_OK);
    EXPECT_EQ(count, 10u);
    EXPECT_TRUE(std::equal(bytes, bytes + 4, big.begin()));
    EXPECT_EQ(big[4], 0);

    count = 3;
    EXPECT_EQ(a->GetBinary(big.data(), &count), E_OUTOFMEMORY);
    EXPECT_EQ(count, 4u);
    count = 5;
    EXPECT_EQ(a->GetBinary(nullptr, &count), E_POINTER);
    EXPECT_EQ(count, 4u);
    EXPECT_EQ(a->SetBinary(nullptr, 2), E_INVALIDARG);
    EXPECT_EQ(a->SetBinary(bytes, -1), E_INVALIDARG);
}

TEST_F(AttributeTest, NameOfASubDirectoryIsRefused)
{
    Ref<CAttributeDirectory> sub;
    ASSERT_EQ(dir.CreateDirectory("Folder", sub.Out()), S_OK);
    EXPECT_EQ(a->SetName("FOLDER"), E_FAIL);
    EXPECT_EQ(NameOf(a.Get()), "Setting");
    EXPECT_EQ(a->SetName("Other"), S_OK);
    EXPECT_EQ(NameOf(a.Get()), "Other");
    EXPECT_EQ(a->SetName(nullptr), E_INVALIDARG);
}

TEST_F(AttributeTest, SerializeThenLoadReproducesEveryField)
{
    ASSERT_EQ(a->SetParam(-7), S_OK);
    ASSERT_EQ(a->SetFlag(0x30, 1), S_OK);
    ASSERT_EQ(a->SetString("hello"), S_OK);
    ASSERT_EQ(a->SetUserWord(0xDEADBEEF), S_OK);
    const FILETIME ft{0x89ABCDEF, 0x01234567};
    ASSERT_EQ(a->SetFileTime(&ft), S_OK);

    LONG size = 0;
    ASSERT_EQ(a->GetSerializedSize(&size), S_OK);
    EXPECT_EQ(size, 56 + 16 + 12);
    std::vector<BYTE> bytes(static_cast<std::size_t>(size));
    LONG small = size - 1;
    EXPECT_EQ(a->Serialize(bytes.data(), &small), E_OUTOFMEMORY);
    EXPECT_EQ(small, size);
    ASSERT_EQ(a->Serialize(bytes.data(), &size), S_OK);

    Ref<CAttribute> b;
    ASSERT_EQ(dir.CreateAttribute("Blank", 0, 0, b.Out(), 0), S_OK);
    ASSERT_EQ(b->Load(bytes.data(), size), S_OK);
    EXPECT_EQ(NameOf(b.Get()), "Setting");
    EXPECT_EQ(StringOf(b.Get()), "hello");
    LONG n = 0;
    b->GetId(&n);
    EXPECT_EQ(n, 11005);
    b->GetAppId(&n);
    EXPECT_EQ(n, 4);
    b->GetParam(&n);
    EXPECT_EQ(n, -7);
    LONG state = 0;
    b->GetFlag(0x10, &state);
    EXPECT_EQ(state, 1);
    DWORD word = 0;
    b->GetUserWord(&word);
    EXPECT_EQ(word, 0xDEADBEEFu);
    FILETIME back{};
    b->GetFileTime(&back);
    EXPECT_EQ(FileTimeToUInt64(back), FileTimeToUInt64(ft));
}

TEST_F(AttributeTest, LoadRefusesARecordThatDoesNotFitAndLeavesTheRecordAlone)
{
    ASSERT_EQ(a->SetString("keep"), S_OK);
    std::vector<BYTE> bytes = Stream({RawRecord::Named(u"New").Value({1, 2, 3, 4})});
    EXPECT_EQ(a->Load(bytes.data(), static_cast<LONG>(bytes.size()) - 1), E_INVALIDARG);
    EXPECT_EQ(a->Load(bytes.data(), 55), E_INVALIDARG);
    EXPECT_EQ(a->Load(nullptr, 100), E_INVALIDARG);

    RawRecord shortName = RawRecord::Named(u"Name");
    shortName.nameLength = shortName.nameSize; // no room for the terminator
    bytes = Stream({shortName});
    EXPECT_EQ(a->Load(bytes.data(), static_cast<LONG>(bytes.size())), E_INVALIDARG);

    RawRecord longValue = RawRecord::Named(u"V").Value({1, 2});
    longValue.valueLength = 100; // more than the buffer holds
    bytes = Stream({longValue});
    EXPECT_EQ(a->Load(bytes.data(), static_cast<LONG>(bytes.size())), E_INVALIDARG);

    EXPECT_EQ(NameOf(a.Get()), "Setting");
    EXPECT_EQ(StringOf(a.Get()), "keep");
}

// A loaded record or a new flag word never turns an attribute into a
// sub-directory entry (which the save would then look up) nor brings a
// removed record back.
TEST_F(AttributeTest, RecordPlacementBitsSurviveLoadAndFlagWordChanges)
{
    RawRecord fake = RawRecord::Named(u"Fake");
    fake.flags = RECORD_DIRECTORY | RECORD_REMOVED | 5;
    const std::vector<BYTE> bytes = Stream({fake});
    ASSERT_EQ(a->Load(bytes.data(), static_cast<LONG>(bytes.size())), S_OK);
    EXPECT_EQ(Number(), 5u);
    EXPECT_EQ(Names(dir), std::vector<std::string>{"Fake"});
    const std::vector<BYTE> saved = Bytes(dir);
    EXPECT_EQ(WordAt(saved, 28), 5u);

    ASSERT_EQ(dir.RemoveAttribute(a.Get()), S_OK);
    ASSERT_EQ(a->SetNumber(9), S_OK);
    ASSERT_EQ(a->SetFlags(1, 1), S_OK);
    EXPECT_EQ(Count(dir), 0);
    EXPECT_TRUE(Bytes(dir).empty());
}

TEST_F(AttributeTest, MarkIsSetClearedAndTested)
{
    BYTE unmarked = 9;
    ASSERT_EQ(a->IsUnmarked(&unmarked), S_OK);
    EXPECT_EQ(unmarked, 1);
    ASSERT_EQ(a->SetMark(), S_OK);
    ASSERT_EQ(a->IsUnmarked(&unmarked), S_OK);
    EXPECT_EQ(unmarked, 0);
    DWORD mask = 0;
    ASSERT_EQ(a->GetMaskNumber(&mask), S_OK);
    EXPECT_EQ(mask, ATTRIBUTE_MARK);
    ASSERT_EQ(a->ClearMark(), S_OK);
    ASSERT_EQ(a->IsUnmarked(&unmarked), S_OK);
    EXPECT_EQ(unmarked, 1);
}

TEST_F(AttributeTest, EveryChangeMarksTheDirectoryModified)
{
    const BYTE bytes[] = {1};
    const SYSTEMTIME st{2020, 5, 0, 17, 12, 30, 15, 250};
    const FILETIME ft{1, 2};
    const std::vector<std::pair<const char*, std::function<HRESULT()>>> changes = {
        {"SetName", [&] { return a->SetName("N"); }},
        {"SetId", [&] { return a->SetId(1); }},
        {"SetAppId", [&] { return a->SetAppId(1); }},
        {"SetParam", [&] { return a->SetParam(1); }},
        {"SetFlags", [&] { return a->SetFlags(1, 1); }},
        {"SetFlag", [&] { return a->SetFlag(1, 1); }},
        {"ClearFlags", [&] { return a->ClearFlags(1); }},
        {"SetBinary", [&] { return a->SetBinary(bytes, 1); }},
        {"SetString", [&] { return a->SetString("s"); }},
        {"SetUserWord", [&] { return a->SetUserWord(1); }},
        {"SetTime", [&] { return a->SetTime(&st); }},
        {"SetFileTime", [&] { return a->SetFileTime(&ft); }},
        {"SetParamNumber", [&] { return a->SetParamNumber(1); }},
        {"SetMaskNumber", [&] { return a->SetMaskNumber(1); }},
        {"SetNumber", [&] { return a->SetNumber(1); }},
        {"SetTimeLow", [&] { return a->SetTimeLow(1); }},
        {"SetTimeHigh", [&] { return a->SetTimeHigh(1); }},
        {"ClearMark", [&] { return a->ClearMark(); }},
        {"SetMark", [&] { return a->SetMark(); }},
    };
    for (const auto& [name, change] : changes) {
        Bytes(dir);
        ASSERT_EQ(Modified(dir), 0) << name;
        EXPECT_EQ(change(), S_OK) << name;
        EXPECT_EQ(Modified(dir), 1) << name;
    }
}

TEST_F(AttributeTest, TimeConvertsBothWaysAndIgnoresAnInvalidDate)
{
    const SYSTEMTIME st{2021, 2, 0, 28, 23, 59, 58, 999};
    ASSERT_EQ(a->SetTime(&st), S_OK);
    SYSTEMTIME back{};
    ASSERT_EQ(a->GetTime(&back), S_OK);
    EXPECT_EQ(back.wYear, 2021);
    EXPECT_EQ(back.wMonth, 2);
    EXPECT_EQ(back.wDay, 28);
    EXPECT_EQ(back.wSecond, 58);
    EXPECT_EQ(back.wMilliseconds, 999);

    Bytes(dir);
    const SYSTEMTIME bad{2021, 13, 0, 1, 0, 0, 0, 0};
    EXPECT_EQ(a->SetTime(&bad), S_OK);
    EXPECT_EQ(Modified(dir), 0);
    ASSERT_EQ(a->GetTime(&back), S_OK);
    EXPECT_EQ(back.wMonth, 2);

    ASSERT_EQ(a->SetTimeLow(0x11111111), S_OK);
    ASSERT_EQ(a->SetTimeHigh(0x22222222), S_OK);
    FILETIME ft{};
    ASSERT_EQ(a->GetFileTime(&ft), S_OK);
    EXPECT_EQ(FileTimeToUInt64(ft), 0x2222222211111111ull);
}

TEST_F(AttributeTest, NullOutPointersAreRefusedNotWrittenThrough)
{
    EXPECT_EQ(a->GetId(nullptr), E_INVALIDARG);
    EXPECT_EQ(a->GetFlags(nullptr, nullptr), E_INVALIDARG);
    EXPECT_EQ(a->GetFlag(1, nullptr), E_INVALIDARG);
    EXPECT_EQ(a->GetTime(nullptr), E_INVALIDARG);
    EXPECT_EQ(a->GetSerializedSize(nullptr), E_INVALIDARG);
    EXPECT_EQ(a->GetParamNumber(nullptr), E_POINTER);
    EXPECT_EQ(a->GetMaskNumber(nullptr), E_POINTER);
    EXPECT_EQ(a->GetNumber(nullptr), E_POINTER);
    EXPECT_EQ(a->GetTimeLow(nullptr), E_POINTER);
    EXPECT_EQ(a->GetTimeHigh(nullptr), E_POINTER);
    EXPECT_EQ(a->GetDirectory(nullptr), E_INVALIDARG);
    EXPECT_EQ(a->Attach(nullptr, &dir), E_INVALIDARG);

    CAttributeDirectory* owner = nullptr;
    ASSERT_EQ(a->GetDirectory(&owner), S_OK);
    EXPECT_EQ(owner, &dir);

    // A handle that was never attached answers instead of crashing.
    Ref<CAttribute> loose(new CAttribute);
    LONG n = 0;
    EXPECT_EQ(loose->GetId(&n), E_UNEXPECTED);
    EXPECT_EQ(loose->SetString("x"), E_UNEXPECTED);
}

} // namespace
