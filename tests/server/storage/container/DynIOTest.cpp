#include "server/storage/container/DynIO.h"

#include "server/storage/container/LoadBudget.h"
#include "server/storage/container/LzwCoder.h"
#include "server/storage/container/Lzo1x.h"
#include "server/storage/container/Sha1.h"
#include "tests/server/storage/container/ContainerTestSupport.h"
#include "tests/server/storage/container/MemoryFileIO.h"

#include "platform/win/Time.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

namespace {

using tqtest::AddBinary;
using tqtest::AddText;
using tqtest::Bytes;
using tqtest::CountOf;
using tqtest::PutWord;
using tqtest::StreamOf;
using tqtest::WordAt;

constexpr HRESULT kFileNotFound = static_cast<HRESULT>(0x80070002u);
constexpr HRESULT kDiskFull = static_cast<HRESULT>(0x80070070u);
constexpr HRESULT kTooLarge = HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE);
constexpr size_t kHeader = CDynIO::kHeaderSize;

// A container file made by hand: a header without digest, then the payload.
Bytes Container(DWORD flags, const Bytes& payload)
{
    Bytes file(kHeader + payload.size(), 0);
    std::copy(payload.begin(), payload.end(), file.begin() + kHeader);
    PutWord(file, 12, 1);
    PutWord(file, 28, flags);
    PutWord(file, 32, static_cast<DWORD>(payload.size()));
    PutWord(file, 36, static_cast<DWORD>(payload.size()));
    return file;
}

class DynIOTest : public ::testing::Test {
protected:
    // A directory with text that compresses well.
    void Fill(CAttributeDirectory& dir)
    {
        ASSERT_TRUE(AddText(dir, "LDAPServer", 4, 1, "ldap.example.org"));
        ASSERT_TRUE(AddText(dir, "LDAPContainer", 4, 2, "ou=people,ou=people,ou=people,dc=example,dc=org"));
        for (int i = 0; i < 20; ++i)
            ASSERT_TRUE(AddText(dir, "Repeated", 5, 100 + i, "the same value again and again"));
    }

    Bytes& File(const std::string& name = "x.ad") { return mem.files[name]; }

    // Loads the file into a fresh directory; its stream, or the failure.
    HRESULT LoadStream(Bytes* stream, const char* name = "x.ad")
    {
        CAttributeDirectory dir;
        const HRESULT hr = io.Load(name, &dir);
        *stream = StreamOf(dir);
        return hr;
    }

    void TearDown() override { EXPECT_EQ(mem.OpenHandles(), 0u) << "a handle was left open"; }

    tqtest::MemoryFileIO mem;
    CDynIO io{&mem};
};

TEST_F(DynIOTest, SaveWritesTheHeaderAndLoadReadsItBack)
{
    CAttributeDirectory dir;
    Fill(dir);
    const Bytes stream = StreamOf(dir);
    FILETIME before{};
    GetSystemTimeAsFileTime(&before);

    ASSERT_EQ(io.Save("x.ad", &dir, 0), S_OK);
    FILETIME after{};
    GetSystemTimeAsFileTime(&after);
    const Bytes& file = File();
    ASSERT_EQ(file.size(), kHeader + stream.size());
    EXPECT_EQ(WordAt(file, 0), 0u);
    EXPECT_EQ(WordAt(file, 4), 0u);
    EXPECT_EQ(WordAt(file, 8), 0u);
    EXPECT_EQ(WordAt(file, 12), 1u);
    for (size_t offset : {16u, 20u, 24u, 28u, 40u})
        EXPECT_EQ(WordAt(file, offset), 0u) << "offset " << offset;
    EXPECT_EQ(WordAt(file, 32), stream.size());
    EXPECT_EQ(WordAt(file, 36), stream.size());
    EXPECT_EQ(WordAt(file, 44), 1u);
    const ULONGLONG saved = static_cast<ULONGLONG>(WordAt(file, 52)) << 32 | WordAt(file, 48);
    EXPECT_GE(saved, FileTimeToUInt64(before));
    EXPECT_LE(saved, FileTimeToUInt64(after));
    EXPECT_TRUE(Bytes(file.begin() + kHeader, file.end()) == stream);

    Bytes loaded;
    EXPECT_EQ(LoadStream(&loaded), S_OK);
    EXPECT_TRUE(loaded == stream);
}

TEST_F(DynIOTest, EveryFlagCombinationRoundTrips)
{
    CAttributeDirectory dir;
    Fill(dir);
    const Bytes stream = StreamOf(dir);
    for (DWORD flags : {0u, 1u, 2u, 3u, 4u, 6u}) {
        SCOPED_TRACE("flags " + std::to_string(flags));
        ASSERT_EQ(io.Save("x.ad", &dir, flags), S_OK);
        const Bytes& file = File();
        EXPECT_EQ(WordAt(file, 28), flags);
        const DWORD digest = (flags & CONTAINER_SHA1) ? 20 : 0;
        EXPECT_EQ(WordAt(file, 0), digest);
        EXPECT_EQ(WordAt(file, 4), digest);
        EXPECT_EQ(WordAt(file, 32), WordAt(file, 36));
        EXPECT_EQ(file.size(), kHeader + digest + WordAt(file, 36));
        if (flags & (CONTAINER_LZW | CONTAINER_LZO1X)) {
            EXPECT_LT(WordAt(file, 36), stream.size()) << "compressed form not smaller";
        }
        if (flags & CONTAINER_LZO1X) {
            EXPECT_EQ(WordAt(file, kHeader + digest), stream.size()) << "length prefix";
        }
        if (flags & CONTAINER_SHA1) {
            CSha1 sha;
            sha.Update(file.data() + 48, 8);
            sha.Update(file.data() + kHeader + 20, file.size() - kHeader - 20);
            EXPECT_EQ(std::memcmp(sha.Final().data(), file.data() + kHeader, 20), 0);
        }
        Bytes loaded;
        EXPECT_EQ(LoadStream(&loaded), S_OK);
        EXPECT_TRUE(loaded == stream);
    }
}

TEST_F(DynIOTest, SaveClearsTheModifiedFlag)
{
    CAttributeDirectory dir;
    Fill(dir);
    BYTE modified = 0;
    dir.IsModified(&modified);
    ASSERT_EQ(modified, 1);
    ASSERT_EQ(io.Save("x.ad", &dir, 6), S_OK);
    dir.IsModified(&modified);
    EXPECT_EQ(modified, 0);
}

TEST_F(DynIOTest, EmptyDirectoryIsAHeaderAlone)
{
    CAttributeDirectory dir;
    ASSERT_EQ(io.Save("x.ad", &dir, 6), S_OK);
    const Bytes& file = File();
    ASSERT_EQ(file.size(), kHeader);
    EXPECT_EQ(WordAt(file, 4), 0u);
    EXPECT_EQ(WordAt(file, 28), 6u);
    EXPECT_EQ(WordAt(file, 36), 0u);

    CAttributeDirectory loaded;
    ASSERT_TRUE(AddText(loaded, "stale", 1, 1, "cleared by the load"));
    EXPECT_EQ(io.Load("x.ad", &loaded), S_OK);
    EXPECT_EQ(CountOf(loaded), 0);
}

TEST_F(DynIOTest, FilesShorterThanAHeaderLoadEmpty)
{
    for (size_t size : {0u, 1u, 55u}) {
        File() = Bytes(size, 0x01);
        CAttributeDirectory dir;
        ASSERT_TRUE(AddText(dir, "stale", 1, 1, "cleared by the load"));
        EXPECT_EQ(io.Load("x.ad", &dir), S_OK) << size << " bytes";
        EXPECT_EQ(CountOf(dir), 0);
    }
}

// The digest covers the save time and the stored payload; a change to
// either, or to the digest itself, fails the load.
TEST_F(DynIOTest, DigestCatchesChangedBytes)
{
    CAttributeDirectory dir;
    Fill(dir);
    ASSERT_EQ(io.Save("x.ad", &dir, 6), S_OK);
    const Bytes good = File();
    for (size_t offset : {good.size() - 1, kHeader + 20, kHeader + 24, size_t{48}, size_t{55}, kHeader, kHeader + 19}) {
        File() = good;
        File()[offset] ^= 0x01;
        CAttributeDirectory loaded;
        EXPECT_EQ(io.Load("x.ad", &loaded), SEC_E_MESSAGE_ALTERED) << "byte " << offset;
        EXPECT_EQ(CountOf(loaded), 0);
    }
    // Bytes outside the digest's reach (the payload length word) do not matter to it.
    File() = good;
    PutWord(File(), 32, 7);
    CAttributeDirectory loaded;
    EXPECT_EQ(io.Load("x.ad", &loaded), S_OK);
}

// A digest is checked when the flag or the length asks for one; one that is
// missing or of another length cannot vouch for the payload.
TEST_F(DynIOTest, DigestThatCannotBeCheckedFails)
{
    CAttributeDirectory dir;
    Fill(dir);
    ASSERT_EQ(io.Save("x.ad", &dir, 0), S_OK);
    const Bytes plain = File();

    File() = plain;
    PutWord(File(), 28, CONTAINER_SHA1); // flag, but no digest bytes
    CAttributeDirectory loaded;
    EXPECT_EQ(io.Load("x.ad", &loaded), SEC_E_MESSAGE_ALTERED);

    // A short digest length: 8 bytes inserted, claimed as the digest.
    File() = plain;
    PutWord(File(), 4, 8);
    File().insert(File().begin() + kHeader, 8, 0xAA);
    EXPECT_EQ(io.Load("x.ad", &loaded), SEC_E_MESSAGE_ALTERED);

    // A digest length without the flag still gets checked.
    ASSERT_EQ(io.Save("x.ad", &dir, CONTAINER_SHA1), S_OK);
    const Bytes digested = File();
    PutWord(File(), 28, 0);
    EXPECT_EQ(io.Load("x.ad", &loaded), S_OK);
    File()[File().size() - 1] ^= 0x80;
    EXPECT_EQ(io.Load("x.ad", &loaded), SEC_E_MESSAGE_ALTERED);
}

TEST_F(DynIOTest, IncompressibleStreamIsStoredRaw)
{
    CAttributeDirectory dir;
    ASSERT_TRUE(AddBinary(dir, "Noise", 9, 1, tqtest::RandomBytes(40000, 3)));
    const Bytes stream = StreamOf(dir);
    ASSERT_EQ(io.Save("x.ad", &dir, 6), S_OK);
    const Bytes& file = File();
    EXPECT_EQ(WordAt(file, 28), CONTAINER_SHA1) << "the LZO1X flag stays off";
    EXPECT_EQ(WordAt(file, 36), stream.size());
    EXPECT_TRUE(Bytes(file.begin() + kHeader + 20, file.end()) == stream);
    Bytes loaded;
    EXPECT_EQ(LoadStream(&loaded), S_OK);
    EXPECT_TRUE(loaded == stream);
}

TEST_F(DynIOTest, LzwAndLzoTogetherAreRefused)
{
    File() = {1, 2, 3};
    CAttributeDirectory dir;
    Fill(dir);
    for (DWORD flags : {5u, 7u}) {
        EXPECT_EQ(io.Save("x.ad", &dir, flags), E_INVALIDARG);
        EXPECT_EQ(io.Save("new.ad", &dir, flags), E_INVALIDARG);
    }
    EXPECT_TRUE(File() == Bytes({1, 2, 3})) << "the old file stays";
    EXPECT_FALSE(mem.Has("new.ad"));
    EXPECT_EQ(mem.opens, 0);
}

// A reader applies LZW and then LZO1X; no save writes both, but a file that
// has both loads.
TEST_F(DynIOTest, ReaderAppliesLzwThenLzo)
{
    CAttributeDirectory dir;
    Fill(dir);
    const Bytes stream = StreamOf(dir);
    Bytes lzo;
    ASSERT_EQ(Lzo1xCompress(stream.data(), stream.size(), &lzo), S_OK);
    CLzwCoder coder;
    std::unique_ptr<BYTE[]> coded;
    const size_t codedSize = coder.Compress(lzo.data(), lzo.size(), &coded);

    File() = Container(CONTAINER_LZW | CONTAINER_LZO1X, Bytes(coded.get(), coded.get() + codedSize));
    Bytes loaded;
    EXPECT_EQ(LoadStream(&loaded), S_OK);
    EXPECT_TRUE(loaded == stream);
}

TEST_F(DynIOTest, WrongLzoLengthPrefixFails)
{
    CAttributeDirectory dir;
    Fill(dir);
    const Bytes stream = StreamOf(dir);
    ASSERT_EQ(io.Save("x.ad", &dir, CONTAINER_LZO1X), S_OK);
    const Bytes good = File();
    ASSERT_EQ(WordAt(good, 28), CONTAINER_LZO1X);
    for (DWORD prefix : {static_cast<DWORD>(stream.size() - 1), static_cast<DWORD>(stream.size() + 1), 0u,
                         0xFFFFFFFFu, static_cast<DWORD>(CDynIO::kMaxContainerBytes + 1)}) {
        File() = good;
        PutWord(File(), kHeader, prefix);
        CAttributeDirectory loaded;
        EXPECT_EQ(io.Load("x.ad", &loaded), E_FAIL) << "prefix " << prefix;
        EXPECT_EQ(CountOf(loaded), 0) << "nothing partly loaded";
    }
    // Damaged compressed bytes.
    File() = good;
    File().resize(good.size() - 3);
    PutWord(File(), 36, WordAt(File(), 36) - 3);
    CAttributeDirectory loaded;
    EXPECT_EQ(io.Load("x.ad", &loaded), E_FAIL);
}

TEST_F(DynIOTest, CompressedPayloadsTooShortOrDamagedFail)
{
    // An LZO1X payload shorter than its own length prefix.
    File() = Container(CONTAINER_LZO1X, {0, 0});
    CAttributeDirectory dir;
    EXPECT_EQ(io.Load("x.ad", &dir), E_FAIL);

    // An LZW payload without its end code.
    File() = Container(CONTAINER_LZW, {0x00, 'a', 0x00, 'b'});
    EXPECT_EQ(io.Load("x.ad", &dir), E_FAIL);
}

// About 23 KB of LZW codes that would expand past the bound: the load stops
// there instead of allocating on.
TEST_F(DynIOTest, LzwExpansionIsBounded)
{
    Bytes codes = {0x00, 'a'};
    for (DWORD code = CLzwCoder::kFirstCode; code < CLzwCoder::kFirstCode + 12000; ++code) {
        codes.push_back(static_cast<BYTE>(code >> 8));
        codes.push_back(static_cast<BYTE>(code));
    }
    codes.insert(codes.end(), {0xFF, 0xFF, 0x00, 0x00});
    File() = Container(CONTAINER_LZW, codes);
    CAttributeDirectory dir;
    EXPECT_EQ(io.Load("x.ad", &dir), E_FAIL);
}

TEST_F(DynIOTest, FileShorterThanItsHeaderSays)
{
    CAttributeDirectory dir;
    Fill(dir);
    ASSERT_EQ(io.Save("x.ad", &dir, 6), S_OK);
    const Bytes good = File();
    File().pop_back();
    CAttributeDirectory loaded;
    EXPECT_EQ(io.Load("x.ad", &loaded), STG_E_PROPSETMISMATCHED);

    // Lengths whose sum overflows 32 bits.
    File() = good;
    PutWord(File(), 4, 0xFFFFFFF0u);
    PutWord(File(), 36, 0x20);
    EXPECT_EQ(io.Load("x.ad", &loaded), STG_E_PROPSETMISMATCHED);
    File() = good;
    PutWord(File(), 36, 0xFFFFFFFFu);
    EXPECT_EQ(io.Load("x.ad", &loaded), STG_E_PROPSETMISMATCHED);

    // Bytes after the payload are ignored.
    File() = good;
    File().push_back(0x5A);
    EXPECT_EQ(io.Load("x.ad", &loaded), S_OK);
}

TEST_F(DynIOTest, HeaderWithNothingStoredLoadsEmpty)
{
    File() = Container(6, {});
    CAttributeDirectory dir;
    EXPECT_EQ(io.Load("x.ad", &dir), S_OK);
    EXPECT_EQ(CountOf(dir), 0);
}

TEST_F(DynIOTest, DamagedRecordsInsideThePayloadKeepTheEarlierOnes)
{
    CAttributeDirectory dir;
    ASSERT_TRUE(AddText(dir, "First", 1, 1, "kept"));
    ASSERT_TRUE(AddText(dir, "Second", 1, 2, "lost"));
    Bytes stream = StreamOf(dir);
    const size_t second = AttributeRecordHeader::Read(stream.data()).RecordBytes();
    PutWord(stream, second + 36, 1000); // value longer than what follows

    File() = Container(0, stream);
    CAttributeDirectory loaded;
    EXPECT_EQ(io.Load("x.ad", &loaded), STG_E_PROPSETMISMATCHED);
    EXPECT_EQ(CountOf(loaded), 1);
}

TEST_F(DynIOTest, BareRecordStreams)
{
    CAttributeDirectory dir;
    ASSERT_TRUE(AddText(dir, "One", 3, 7, "first"));
    ASSERT_TRUE(AddText(dir, "Two", 3, 8, "second"));
    const Bytes stream = StreamOf(dir);

    // The stream alone.
    File() = stream;
    Bytes loaded;
    EXPECT_EQ(LoadStream(&loaded), S_OK);
    EXPECT_TRUE(loaded == stream);

    // Ended early by 56 zero bytes; what follows them is ignored.
    File() = stream;
    File().insert(File().end(), kHeader, 0);
    File().insert(File().end(), {9, 9, 9});
    EXPECT_EQ(LoadStream(&loaded), S_OK);
    EXPECT_TRUE(loaded == stream);

    // Zeros at the very start: nothing.
    File() = Bytes(kHeader + 10, 0);
    EXPECT_EQ(LoadStream(&loaded), S_OK);
    EXPECT_TRUE(loaded.empty());

    // Records that do not end at the file's end.
    File() = stream;
    File().push_back(0);
    EXPECT_EQ(LoadStream(&loaded), STG_E_PROPSETMISMATCHED);
    EXPECT_TRUE(loaded.empty()) << "nothing loaded from a stream that does not fit";
    File() = stream;
    File().pop_back();
    EXPECT_EQ(LoadStream(&loaded), STG_E_PROPSETMISMATCHED);
    File() = stream;
    File().insert(File().end(), 30, 0); // part of a zero header
    EXPECT_EQ(LoadStream(&loaded), STG_E_PROPSETMISMATCHED);
    File() = stream;
    PutWord(File(), 36, 0xFFFFFFFFu);
    EXPECT_EQ(LoadStream(&loaded), STG_E_PROPSETMISMATCHED);
}

// A bare stream whose first record has id 1 looks like a container: that
// record's header is taken as the file header.
TEST_F(DynIOTest, BareStreamWithIdOneIsReadAsContainer)
{
    CAttributeDirectory dir;
    CAttribute* a = nullptr;
    ASSERT_EQ(dir.CreateAttribute("A", 3, 1, &a, 0), S_OK); // no value: stored length 0
    a->Release();
    ASSERT_TRUE(AddText(dir, "B", 3, 2, "never seen"));
    File() = StreamOf(dir);
    Bytes loaded;
    EXPECT_EQ(LoadStream(&loaded), S_OK);
    EXPECT_TRUE(loaded.empty());
}

TEST_F(DynIOTest, FileAccessFailuresAreReturned)
{
    CAttributeDirectory dir;
    Fill(dir);
    ASSERT_EQ(io.Save("x.ad", &dir, 6), S_OK);
    const int closesAfterSave = mem.closes;

    CAttributeDirectory loaded;
    EXPECT_EQ(io.Load("missing.ad", &loaded), kFileNotFound);

    mem.failOpen = E_ACCESSDENIED;
    EXPECT_EQ(io.Load("x.ad", &loaded), E_ACCESSDENIED);
    EXPECT_EQ(mem.closes, closesAfterSave) << "nothing opened, nothing closed";
    mem.failOpen = S_OK;

    mem.failSize = kDiskFull;
    EXPECT_EQ(io.Load("x.ad", &loaded), kDiskFull);
    mem.failSize = S_OK;

    mem.failRead = E_HANDLE;
    EXPECT_EQ(io.Load("x.ad", &loaded), E_HANDLE);
    mem.failRead = S_OK;

    mem.failClose = E_FAIL;
    EXPECT_EQ(io.Load("x.ad", &loaded), E_FAIL);
    mem.failClose = S_OK;
    EXPECT_EQ(mem.closes, closesAfterSave + 3) << "every successful open was closed";
    EXPECT_EQ(CountOf(loaded), 0);

    EXPECT_EQ(io.Load("x.ad", &loaded), S_OK);
    EXPECT_GT(CountOf(loaded), 0);
}

TEST_F(DynIOTest, WriteFailures)
{
    CAttributeDirectory dir;
    Fill(dir);
    File() = {7, 7, 7};

    mem.failOpen = E_ACCESSDENIED;
    EXPECT_EQ(io.Save("x.ad", &dir, 6), E_ACCESSDENIED);
    EXPECT_TRUE(File() == Bytes({7, 7, 7})) << "a failed open leaves the old file";
    mem.failOpen = S_OK;

    mem.failWrite = kDiskFull;
    mem.partialWrite = 10;
    EXPECT_EQ(io.Save("x.ad", &dir, 6), kDiskFull);
    EXPECT_TRUE(File() == Bytes({7, 7, 7})) << "a failed write leaves the old file";
    mem.failWrite = S_OK;

    // A close that fails after a good write is no success.
    mem.failClose = kDiskFull;
    EXPECT_EQ(io.Save("x.ad", &dir, 6), kDiskFull);
    EXPECT_TRUE(File() == Bytes({7, 7, 7}));
    mem.failClose = S_OK;

    const BYTE bytes[] = {1, 2, 3};
    EXPECT_EQ(io.WriteFile("w.ad", bytes, sizeof bytes), S_OK);
    EXPECT_TRUE(mem.files["w.ad"] == Bytes({1, 2, 3}));
    EXPECT_EQ(io.WriteFile("w.ad", nullptr, 0), S_OK);
    EXPECT_TRUE(mem.files["w.ad"].empty());
}

// A size the file layer reports beyond the bound (or a negative one, which
// the low 32 bits of a huge file give) is refused before any allocation.
TEST_F(DynIOTest, OversizedFilesAreRefused)
{
    File() = Bytes(100, 0);
    mem.fakeSize = true;
    CAttributeDirectory dir;
    for (LONG size : {static_cast<LONG>(CDynIO::kMaxContainerBytes + 1), -1, static_cast<LONG>(0x80000000u)}) {
        mem.reportedSize = size;
        EXPECT_EQ(io.Load("x.ad", &dir), kTooLarge) << size;
    }
    // A file smaller than its reported size: what was read is what counts.
    mem.reportedSize = 200;
    EXPECT_EQ(io.Load("x.ad", &dir), S_OK);
}

TEST_F(DynIOTest, MissingArguments)
{
    CAttributeDirectory dir;
    EXPECT_EQ(io.Load(nullptr, &dir), E_INVALIDARG);
    EXPECT_EQ(io.Load("x.ad", nullptr), E_INVALIDARG);
    EXPECT_EQ(io.Save(nullptr, &dir, 0), E_INVALIDARG);
    EXPECT_EQ(io.Save("x.ad", nullptr, 0), E_INVALIDARG);
    EXPECT_EQ(io.WriteFile("x.ad", nullptr, 1), E_INVALIDARG);
    CDynIO unset;
    EXPECT_EQ(unset.Load("x.ad", &dir), E_UNEXPECTED);
    EXPECT_EQ(unset.Save("x.ad", &dir, 0), E_UNEXPECTED);
    unset.SetFileIO(&mem);
    EXPECT_EQ(unset.Save("x.ad", &dir, 0), S_OK);
    EXPECT_EQ(mem.opens, 1);
}

// A file layer that throws (a snap-in's, say) gives an error, not an
// exception, and the handle it opened is closed.
TEST_F(DynIOTest, ThrowingFileLayerGivesAnError)
{
    struct Throwing : tqtest::MemoryFileIO {
        HRESULT ReadFile(LONG, void*, DWORD, DWORD*) override { throw std::runtime_error("read"); }
    } throwing;
    throwing.files["x.ad"] = Bytes(100, 0);
    CDynIO thrower(&throwing);
    CAttributeDirectory dir;
    EXPECT_EQ(thrower.Load("x.ad", &dir), E_UNEXPECTED);
    EXPECT_EQ(throwing.OpenHandles(), 0u);
}

} // namespace

namespace {

// A directory whose innermost of depth sub-directories holds a blob of zeros:
// every level copies the blob once more when it loads.
void Nest(CAttributeDirectory& root, unsigned depth, size_t blob)
{
    CAttributeDirectory* at = &root;
    std::vector<CAttributeDirectory*> held;
    for (unsigned level = 0; level < depth; ++level) {
        CAttributeDirectory* child = nullptr;
        ASSERT_EQ(at->CreateDirectory(("level" + std::to_string(level)).c_str(), &child), S_OK);
        held.push_back(child);
        at = child;
    }
    ASSERT_TRUE(AddBinary(*at, "Blob", 1, 1, Bytes(blob, 0)));
    for (CAttributeDirectory* d : held)
        d->Release();
}

} // namespace

TEST_F(DynIOTest, NestingThatWouldMultiplyAFileBeyondTheLoadBoundIsRefused)
{
    // 16 levels over 9 MiB: a small compressed file whose load would copy
    // about 150 MiB.
    CAttributeDirectory bomb;
    Nest(bomb, 16, 9u << 20);
    ASSERT_EQ(io.Save("bomb.ad", &bomb, CONTAINER_LZW), S_OK);
    EXPECT_LT(File("bomb.ad").size(), size_t(1) << 20);
    CAttributeDirectory loaded;
    EXPECT_EQ(io.Load("bomb.ad", &loaded), kTooLarge);
    EXPECT_EQ(CountOf(loaded), 0);
    EXPECT_EQ(CLoadBudget::Process().InUse(), 0u);

    // The same nesting over 1 MiB loads, and gives its charge back when cleared.
    CAttributeDirectory fine;
    Nest(fine, 16, 1u << 20);
    ASSERT_EQ(io.Save("fine.ad", &fine, CONTAINER_LZW), S_OK);
    CAttributeDirectory again;
    EXPECT_EQ(io.Load("fine.ad", &again), S_OK);
    EXPECT_GT(CLoadBudget::Process().InUse(), 16u << 20);
    again.Clear();
    EXPECT_EQ(CLoadBudget::Process().InUse(), 0u);
}

TEST(LoadBudget, LargeLoadsShareTheBudgetAndSmallOnesPass)
{
    CLoadBudget budget(10u << 20);
    auto first = budget.Take(6u << 20, 0);
    ASSERT_TRUE(first);
    EXPECT_FALSE(budget.Take(6u << 20, 50));
    EXPECT_FALSE(budget.Take(11u << 20, 0)); // never fits
    EXPECT_TRUE(budget.Take(CLoadBudget::kSmallLoad, 0));
    auto copy = first;
    first.reset();
    EXPECT_EQ(budget.InUse(), 6u << 20);
    copy.reset();
    EXPECT_EQ(budget.InUse(), 0u);
    EXPECT_TRUE(budget.Take(6u << 20, 0));
}
