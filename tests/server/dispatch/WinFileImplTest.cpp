#include "server/dispatch/WinFileImpl.h"

#include "server/dispatch/FileHandleTable.h"

#include "tests/server/dispatch/HandlerTestSupport.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

using dispatchtest::FakeLog;
using dispatchtest::LogRecord;

constexpr DWORD kNoHandle = 0xFFFFFFFFu;
constexpr HRESULT kFileNotFound = static_cast<HRESULT>(0x80070002u);
constexpr HRESULT kInvalidHandle = static_cast<HRESULT>(0x80070006u);
constexpr HRESULT kAccessDenied = static_cast<HRESULT>(0x80070005u);

std::vector<BYTE> PopOutBytes(CInvokeData& r)
{
    BYTE* data = nullptr;
    DWORD length = 0;
    r.PopOutBytes(&data, &length);
    std::vector<BYTE> bytes(data, data + length);
    delete[] data;
    return bytes;
}

std::string Text(const std::vector<BYTE>& bytes)
{
    return std::string(bytes.begin(), bytes.end());
}

FileFindRecord AsFindRecord(const std::vector<BYTE>& bytes)
{
    FileFindRecord record{};
    EXPECT_EQ(bytes.size(), sizeof record);
    std::memcpy(&record, bytes.data(), std::min(bytes.size(), sizeof record));
    return record;
}

bool AllZero(const std::vector<BYTE>& bytes)
{
    for (BYTE b : bytes)
        if (b != 0)
            return false;
    return true;
}

// A storage folder "store" inside a scratch folder, so that escapes have
// somewhere to land.
class WinFileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::filesystem::create_directory(Folder());
        ASSERT_EQ(files.SetFolder(&log, Folder().c_str()), S_OK);
    }

    std::string Folder() const { return scratch / "store"; }
    std::string InFolder(const std::string& name) const { return Folder() + "/" + name; }

    // Runs one call and checks that the handler finished (returned S_OK).
    std::unique_ptr<CInvokeData> Call(DWORD code, const std::function<void(CInvokeData&)>& fill)
    {
        auto r = std::make_unique<CInvokeData>(code);
        r->result = E_NOTIMPL;
        fill(*r);
        EXPECT_EQ(files.Dispatch(r.get()), S_OK) << "code " << code;
        return r;
    }

    std::unique_ptr<CInvokeData> Open(const std::string& name, DWORD access, DWORD* handle)
    {
        auto r = Call(1001, [&](CInvokeData& c) {
            c.PushInString(name.c_str());
            c.PushInDword(access);
        });
        r->PopOutDword(handle);
        return r;
    }

    HRESULT Read(DWORD handle, DWORD size, std::string* text, DWORD* count = nullptr)
    {
        auto r = Call(1002, [&](CInvokeData& c) {
            c.PushInDword(handle);
            c.PushInDword(size);
        });
        *text = Text(PopOutBytes(*r));
        DWORD n = 0;
        r->PopOutDword(&n);
        if (count != nullptr)
            *count = n;
        EXPECT_EQ(n, text->size());
        return r->result;
    }

    HRESULT Write(DWORD handle, DWORD size, const std::string& data)
    {
        return Call(1003, [&](CInvokeData& c) {
                   c.PushInDword(handle);
                   c.PushInDword(size);
                   c.PushInBytes(data.data(), static_cast<DWORD>(data.size()));
               })->result;
    }

    HRESULT Close(DWORD handle)
    {
        return Call(1004, [&](CInvokeData& c) { c.PushInDword(handle); })->result;
    }

    HRESULT ByName(DWORD code, const std::string& name)
    {
        return Call(code, [&](CInvokeData& c) { c.PushInString(name.c_str()); })->result;
    }

    HRESULT WriteWhole(const std::string& name, const std::string& data)
    {
        return Call(1011, [&](CInvokeData& c) {
                   c.PushInString(name.c_str());
                   c.PushInBytes(data.data(), static_cast<DWORD>(data.size()));
               })->result;
    }

    HRESULT ReadWhole(const std::string& name, std::string* content)
    {
        auto r = Call(1012, [&](CInvokeData& c) { c.PushInString(name.c_str()); });
        *content = Text(PopOutBytes(*r));
        return r->result;
    }

    tqtest::TempFolder scratch;
    FakeLog log;
    CWinFileImpl files;
};

} // namespace

TEST_F(WinFileTest, OpenForWritingCreatesAndLogsBeginAndEnd)
{
    DWORD handle = 0;
    auto r = Open("new.txt", GENERIC_WRITE, &handle);
    EXPECT_EQ(r->result, S_OK);
    EXPECT_NE(handle, kNoHandle);
    EXPECT_TRUE(std::filesystem::exists(InFolder("new.txt")));

    ASSERT_EQ(log.Records().size(), 2u);
    const LogRecord begin = log.Records()[0];
    EXPECT_EQ(begin.kind, 0);
    EXPECT_EQ(begin.code, 1001);
    EXPECT_EQ(begin.caller, "00000000-0000-0000-0000-000000000000");
    EXPECT_EQ(begin.message, "OpenFile(new.txt,WRITE)");
    EXPECT_EQ(begin.result, S_OK);
    EXPECT_EQ(begin.file, "WinFileImpl");
    EXPECT_EQ(begin.function, "CWinFileImpl::OnOpenFile");
    EXPECT_EQ(begin.line, 446);
    const LogRecord end = log.Records()[1];
    EXPECT_EQ(end.kind, 1);
    EXPECT_EQ(end.message, "OpenFile(new.txt,WRITE) = " + std::to_string(static_cast<LONG>(handle)));
    EXPECT_EQ(end.result, S_OK);
    EXPECT_EQ(end.line, 456);
    EXPECT_EQ(Close(handle), S_OK);
}

TEST_F(WinFileTest, OpenForReadingAMissingFileFailsWithoutAHandle)
{
    DWORD handle = 0;
    auto r = Open("missing.txt", GENERIC_READ, &handle);
    EXPECT_EQ(r->result, kFileNotFound);
    EXPECT_EQ(handle, kNoHandle);
    EXPECT_FALSE(std::filesystem::exists(InFolder("missing.txt")));
    ASSERT_EQ(log.Records().size(), 2u);
    EXPECT_EQ(log.Records()[0].message, "OpenFile(missing.txt,READ)");
    EXPECT_EQ(log.Records()[1].message, "OpenFile(missing.txt,READ) = -1");
    EXPECT_EQ(log.Records()[1].result, kFileNotFound);
}

TEST_F(WinFileTest, ReadAndWriteAccessIsLoggedAsWriteButOnlyReads)
{
    ASSERT_TRUE(tqtest::WriteFileText(InFolder("keep.txt"), "kept"));
    DWORD handle = 0;
    auto r = Open("keep.txt", GENERIC_READ | GENERIC_WRITE, &handle);
    ASSERT_EQ(r->result, S_OK);
    EXPECT_EQ(log.Records()[0].message, "OpenFile(keep.txt,WRITE)");
    EXPECT_EQ(Write(handle, 3, "new"), kAccessDenied);
    std::string text;
    EXPECT_EQ(Read(handle, 100, &text), S_OK);
    EXPECT_EQ(text, "kept"); // not truncated
    EXPECT_EQ(Close(handle), S_OK);

    Open("absent.txt", GENERIC_READ | GENERIC_WRITE, &handle);
    EXPECT_EQ(handle, kNoHandle);
    EXPECT_FALSE(std::filesystem::exists(InFolder("absent.txt")));
}

TEST_F(WinFileTest, WriteCloseReopenRead)
{
    DWORD handle = 0;
    Open("data.bin", GENERIC_WRITE, &handle);
    EXPECT_EQ(Write(handle, 5, "hello"), S_OK);
    EXPECT_EQ(Write(handle, 6, " world"), S_OK);
    log.Clear();
    EXPECT_EQ(Close(handle), S_OK);
    ASSERT_EQ(log.Records().size(), 2u);
    std::string shown = "CloseFile(" + std::to_string(static_cast<LONG>(handle)) + ")";
    EXPECT_EQ(log.Records()[0].message, shown);
    EXPECT_EQ(log.Records()[0].line, 539);
    EXPECT_EQ(log.Records()[1].message, shown);
    EXPECT_EQ(log.Records()[1].line, 547);
    EXPECT_EQ(log.Records()[1].function, "CWinFileImpl::OnCloseFile");

    Open("data.bin", GENERIC_READ, &handle);
    std::string text;
    DWORD count = 0;
    EXPECT_EQ(Read(handle, 5, &text, &count), S_OK);
    EXPECT_EQ(text, "hello");
    EXPECT_EQ(Read(handle, 100, &text, &count), S_OK);
    EXPECT_EQ(text, " world");
    EXPECT_EQ(Read(handle, 100, &text, &count), S_OK); // at the end: nothing, and no failure
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(Close(handle), S_OK);
    // Two closes and an open; reads and writes write no log records.
    EXPECT_EQ(log.Records().size(), 6u);
}

TEST_F(WinFileTest, WriteBlockIsTheAnnouncedSize)
{
    DWORD handle = 0;
    Open("block.bin", GENERIC_WRITE, &handle);
    EXPECT_EQ(Write(handle, 3, "abcdef"), S_OK); // cut to the size
    EXPECT_EQ(Write(handle, 5, "xy"), S_OK);     // padded with zeros
    EXPECT_EQ(Write(handle, 0, "ignored"), S_OK);
    EXPECT_EQ(Close(handle), S_OK);
    EXPECT_EQ(tqtest::ReadFileText(InFolder("block.bin")), std::string("abcxy\0\0\0", 8));
}

TEST_F(WinFileTest, HugeReadSizeGivesWhatTheFileHolds)
{
    ASSERT_TRUE(tqtest::WriteFileText(InFolder("small.txt"), "tiny"));
    DWORD handle = 0;
    Open("small.txt", GENERIC_READ, &handle);
    std::string text;
    EXPECT_EQ(Read(handle, 0x7FFFFFFFu, &text), S_OK);
    EXPECT_EQ(text, "tiny");
    EXPECT_EQ(Close(handle), S_OK);
}

TEST_F(WinFileTest, SizesOfTwoGigabytesOrMoreEndTheCallAsAnException)
{
    DWORD handle = 0;
    Open("f.bin", GENERIC_WRITE, &handle);
    log.Clear();
    for (DWORD code : {1002u, 1003u}) {
        CInvokeData r(code);
        r.result = E_NOTIMPL;
        r.PushInDword(handle);
        r.PushInDword(0x80000000u);
        r.PushInBytes("x", 1);
        EXPECT_EQ(files.Dispatch(&r), E_UNEXPECTED);
        EXPECT_EQ(r.result, E_NOTIMPL) << "the result is left as it was";
    }
    ASSERT_EQ(log.Records().size(), 2u);
    EXPECT_EQ(log.Records()[0].kind, 2);
    EXPECT_EQ(log.Records()[0].message, "ReadFile");
    EXPECT_EQ(log.Records()[0].result, E_UNEXPECTED);
    EXPECT_EQ(log.Records()[0].line, 498);
    EXPECT_EQ(log.Records()[1].message, "WriteFile");
    EXPECT_EQ(log.Records()[1].line, 524);
    EXPECT_EQ(log.Records()[1].function, "CWinFileImpl::OnWriteFile");
    // The handle survived and still works.
    EXPECT_EQ(Write(handle, 2, "ok"), S_OK);
    EXPECT_EQ(Close(handle), S_OK);
    EXPECT_EQ(tqtest::ReadFileText(InFolder("f.bin")), "ok");
}

TEST_F(WinFileTest, ForgedHandlesReachNoDescriptor)
{
    int own = ::open(InFolder("private.db").c_str(), O_CREAT | O_RDWR | O_CLOEXEC, 0600);
    ASSERT_GE(own, 0);
    ASSERT_EQ(::write(own, "secret", 6), 6);
    ::lseek(own, 0, SEEK_SET);
    for (DWORD forged : {0u, 1u, 2u, static_cast<DWORD>(own), 0x106u, 0x7FFFFFFCu, kNoHandle}) {
        std::string text;
        EXPECT_EQ(Read(forged, 6, &text), kInvalidHandle) << forged;
        EXPECT_EQ(text, "");
        EXPECT_EQ(Write(forged, 4, "evil"), kInvalidHandle) << forged;
        EXPECT_EQ(Close(forged), E_FAIL) << forged;
    }
    // The process's own descriptor is untouched: open, unread, unwritten.
    EXPECT_NE(::fcntl(own, F_GETFD), -1);
    EXPECT_EQ(::lseek(own, 0, SEEK_CUR), 0);
    ::close(own);
    EXPECT_EQ(tqtest::ReadFileText(InFolder("private.db")), "secret");
}

TEST_F(WinFileTest, ClosedHandleIsDeadAndFileAndFindHandlesDoNotMix)
{
    ASSERT_TRUE(tqtest::WriteFileText(InFolder("a.txt"), "a"));
    DWORD file = 0;
    Open("a.txt", GENERIC_READ, &file);
    EXPECT_EQ(Close(file), S_OK);
    std::string text;
    EXPECT_EQ(Read(file, 1, &text), kInvalidHandle);
    EXPECT_EQ(Close(file), E_FAIL);

    Open("a.txt", GENERIC_READ, &file);
    auto first = Call(1008, [](CInvokeData& c) { c.PushInString("*.txt"); });
    DWORD find = 0;
    first->PopOutDword(&find);
    ASSERT_NE(find, kNoHandle);
    EXPECT_NE(find, file);
    EXPECT_EQ(Read(find, 1, &text), kInvalidHandle);
    EXPECT_EQ(Close(find), E_FAIL);
    EXPECT_EQ(Call(1010, [&](CInvokeData& c) { c.PushInDword(file); })->result, kInvalidHandle);
    EXPECT_EQ(Call(1009, [&](CInvokeData& c) { c.PushInDword(file); })->result, E_FAIL);
    // Both still work after the mix-ups.
    EXPECT_EQ(Read(file, 1, &text), S_OK);
    EXPECT_EQ(text, "a");
    EXPECT_EQ(Call(1010, [&](CInvokeData& c) { c.PushInDword(find); })->result, S_OK);
    EXPECT_EQ(Call(1010, [&](CInvokeData& c) { c.PushInDword(find); })->result, kInvalidHandle);
    EXPECT_EQ(Call(1009, [&](CInvokeData& c) { c.PushInDword(find); })->result, E_FAIL);
    EXPECT_EQ(Close(file), S_OK);
}

TEST_F(WinFileTest, HandleWorksThroughAnotherVirtualServer)
{
    tqtest::TempFolder otherFolder;
    FakeLog otherLog;
    CWinFileImpl other;
    other.SetFolder(&otherLog, otherFolder.Path().c_str());
    DWORD handle = 0;
    Open("shared.txt", GENERIC_WRITE, &handle);
    CInvokeData write(1003);
    write.PushInDword(handle);
    write.PushInDword(4);
    write.PushInBytes("data", 4);
    EXPECT_EQ(other.Dispatch(&write), S_OK);
    EXPECT_EQ(write.result, S_OK);
    CInvokeData close(1004);
    close.PushInDword(handle);
    EXPECT_EQ(other.Dispatch(&close), S_OK);
    EXPECT_EQ(close.result, S_OK);
    EXPECT_EQ(tqtest::ReadFileText(InFolder("shared.txt")), "data");
}

TEST_F(WinFileTest, NamesAreCutAtEitherSeparator)
{
    EXPECT_EQ(WriteWhole("sub\\file.txt", "one"), S_OK);
    EXPECT_EQ(tqtest::ReadFileText(InFolder("file.txt")), "one");
    EXPECT_FALSE(std::filesystem::exists(InFolder("sub")));
    EXPECT_EQ(WriteWhole("c:\\data\\x.txt", "two"), S_OK);
    EXPECT_EQ(tqtest::ReadFileText(InFolder("x.txt")), "two");
    EXPECT_EQ(WriteWhole("a/b\\c/y.txt", "three"), S_OK);
    EXPECT_EQ(tqtest::ReadFileText(InFolder("y.txt")), "three");
    std::string content;
    EXPECT_EQ(ReadWhole("anything\\file.txt", &content), S_OK);
    EXPECT_EQ(content, "one");
}

TEST_F(WinFileTest, TraversalNamesStayInsideTheFolder)
{
    const std::string outside = scratch / "secret.txt";
    ASSERT_TRUE(tqtest::WriteFileText(outside, "outside"));
    std::string content;
    for (const char* name : {"../secret.txt", "..\\secret.txt", "store/../secret.txt", "/etc/../../secret.txt"}) {
        EXPECT_EQ(ReadWhole(name, &content), kFileNotFound) << name;
        EXPECT_EQ(content, "") << name;
        EXPECT_EQ(ByName(1005, name), kFileNotFound) << name;
    }
    EXPECT_EQ(WriteWhole("../secret.txt", "inside"), S_OK);
    EXPECT_EQ(tqtest::ReadFileText(outside), "outside");
    EXPECT_EQ(tqtest::ReadFileText(InFolder("secret.txt")), "inside");
}

TEST_F(WinFileTest, EmptyDotAndDotDotNamesAreRefused)
{
    for (const char* name : {"", ".", "..", "x/..", "x\\.", "dir/", "..\\..", "\\"}) {
        DWORD handle = 0;
        EXPECT_EQ(Open(name, GENERIC_WRITE, &handle)->result, E_INVALIDARG) << name;
        EXPECT_EQ(handle, kNoHandle);
        EXPECT_EQ(ByName(1005, name), E_INVALIDARG) << name;
        EXPECT_EQ(ByName(1006, name), E_INVALIDARG) << name;
        EXPECT_EQ(ByName(1007, name), E_INVALIDARG) << name;
        EXPECT_EQ(ByName(1008, name), E_FAIL) << name;
        EXPECT_EQ(WriteWhole(name, "x"), E_INVALIDARG) << name;
        std::string content;
        EXPECT_EQ(ReadWhole(name, &content), E_INVALIDARG) << name;
    }
    EXPECT_TRUE(std::filesystem::exists(Folder()));
    EXPECT_TRUE(std::filesystem::is_empty(Folder()));
}

TEST_F(WinFileTest, OnlyPlainFilesOpen)
{
    std::filesystem::create_directory(InFolder("dir"));
    ASSERT_EQ(::mkfifo(InFolder("fifo").c_str(), 0600), 0);
    for (const char* name : {"dir", "fifo"}) {
        DWORD handle = 0;
        // A pipe without a writer would block a plain open for reading.
        EXPECT_EQ(Open(name, GENERIC_READ, &handle)->result, kAccessDenied) << name;
        EXPECT_EQ(handle, kNoHandle);
        EXPECT_EQ(ByName(1007, name), kAccessDenied) << name;
    }
}

TEST_F(WinFileTest, DeleteFile)
{
    ASSERT_TRUE(tqtest::WriteFileText(InFolder("old.txt"), "x"));
    EXPECT_EQ(ByName(1005, "old.txt"), S_OK);
    EXPECT_FALSE(std::filesystem::exists(InFolder("old.txt")));
    ASSERT_EQ(log.Records().size(), 2u);
    EXPECT_EQ(log.Records()[0].message, "DeleteFile(old.txt)");
    EXPECT_EQ(log.Records()[0].line, 567);
    EXPECT_EQ(log.Records()[1].message, "DeleteFile(old.txt)");
    EXPECT_EQ(log.Records()[1].line, 572);
    EXPECT_EQ(ByName(1005, "old.txt"), kFileNotFound);
    EXPECT_EQ(log.Records()[3].result, kFileNotFound);
}

TEST_F(WinFileTest, FileDateIsTheLastWriteInUtc)
{
    ASSERT_TRUE(tqtest::WriteFileText(InFolder("dated.txt"), "x"));
    timespec times[2] = {};
    times[0].tv_nsec = UTIME_OMIT;
    times[1].tv_sec = 1615734566; // 2021-03-14 15:09:26 UTC
    times[1].tv_nsec = 250'000'000;
    ASSERT_EQ(::utimensat(AT_FDCWD, InFolder("dated.txt").c_str(), times, 0), 0);

    auto r = Call(1006, [](CInvokeData& c) { c.PushInString("dated.txt"); });
    EXPECT_EQ(r->result, S_OK);
    std::vector<BYTE> bytes = PopOutBytes(*r);
    ASSERT_EQ(bytes.size(), 16u);
    SYSTEMTIME st{};
    std::memcpy(&st, bytes.data(), sizeof st);
    EXPECT_EQ(st.wYear, 2021);
    EXPECT_EQ(st.wMonth, 3);
    EXPECT_EQ(st.wDay, 14);
    EXPECT_EQ(st.wDayOfWeek, 0); // a Sunday
    EXPECT_EQ(st.wHour, 15);
    EXPECT_EQ(st.wMinute, 9);
    EXPECT_EQ(st.wSecond, 26);
    EXPECT_EQ(st.wMilliseconds, 250);
    ASSERT_EQ(log.Records().size(), 2u);
    EXPECT_EQ(log.Records()[0].message, "GetFileDate(dated.txt)");
    EXPECT_EQ(log.Records()[0].line, 592);
    EXPECT_EQ(log.Records()[1].message, "GetFileDate(dated.txt) = 03/14/2021 15:09:26");
    EXPECT_EQ(log.Records()[1].line, 600);

    auto missing = Call(1006, [](CInvokeData& c) { c.PushInString("none.txt"); });
    EXPECT_EQ(missing->result, kFileNotFound);
    std::vector<BYTE> zero = PopOutBytes(*missing);
    EXPECT_EQ(zero.size(), 16u);
    EXPECT_TRUE(AllZero(zero));
    EXPECT_EQ(log.Records().back().message, "GetFileDate(none.txt) = 00/00/0000 00:00:00");
}

TEST_F(WinFileTest, FileSizeOfFiveGigabytesIsItsLowWord)
{
    int fd = ::open(InFolder("big.bin").c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, 5LL << 30), 0); // sparse: no blocks behind it
    ::close(fd);
    auto r = Call(1007, [](CInvokeData& c) { c.PushInString("big.bin"); });
    EXPECT_EQ(r->result, S_OK);
    LONG size = 0;
    r->PopOutInt(&size);
    EXPECT_EQ(size, 0x40000000);
    ASSERT_EQ(log.Records().size(), 2u);
    EXPECT_EQ(log.Records()[0].message, "GetFileSize(big.bin)");
    EXPECT_EQ(log.Records()[0].line, 620);
    EXPECT_EQ(log.Records()[1].message, "GetFileSize(big.bin) = 1073741824");
    EXPECT_EQ(log.Records()[1].line, 627);

    // Too big to hand back whole.
    std::string content;
    EXPECT_EQ(ReadWhole("big.bin", &content), E_OUTOFMEMORY);
    EXPECT_EQ(content, "");

    auto missing = Call(1007, [](CInvokeData& c) { c.PushInString("none.bin"); });
    EXPECT_EQ(missing->result, kFileNotFound);
    LONG none = -5;
    missing->PopOutInt(&none);
    EXPECT_EQ(none, 0);
}

TEST_F(WinFileTest, FindWithNoMatchAndAfterTheLastMatch)
{
    ASSERT_TRUE(tqtest::WriteFileText(InFolder("only.ad"), "12345"));
    auto none = Call(1008, [](CInvokeData& c) { c.PushInString("*.txt"); });
    EXPECT_EQ(none->result, E_FAIL);
    DWORD handle = 0;
    none->PopOutDword(&handle);
    EXPECT_EQ(handle, kNoHandle);
    std::vector<BYTE> zeroed = PopOutBytes(*none);
    EXPECT_EQ(zeroed.size(), 344u);
    EXPECT_TRUE(AllZero(zeroed));

    auto first = Call(1008, [](CInvokeData& c) { c.PushInString("*.AD"); });
    EXPECT_EQ(first->result, S_OK);
    first->PopOutDword(&handle);
    ASSERT_NE(handle, kNoHandle);
    FileFindRecord found = AsFindRecord(PopOutBytes(*first));
    EXPECT_STREQ(found.fileName, "only.ad");
    EXPECT_STREQ(found.shortName, "");
    EXPECT_EQ(found.sizeLow, 5u);
    EXPECT_EQ(found.sizeHigh, 0u);
    EXPECT_EQ(found.attributes, FILE_ATTRIBUTE_ARCHIVE);
    EXPECT_GE(found.lastWriteTime.wYear, 2024);

    auto next = Call(1009, [&](CInvokeData& c) { c.PushInDword(handle); });
    EXPECT_EQ(next->result, E_OUTOFMEMORY);
    std::vector<BYTE> after = PopOutBytes(*next);
    EXPECT_EQ(after.size(), 344u);
    EXPECT_TRUE(AllZero(after));
    EXPECT_EQ(Call(1009, [&](CInvokeData& c) { c.PushInDword(handle); })->result, E_OUTOFMEMORY);
    EXPECT_EQ(Call(1010, [&](CInvokeData& c) { c.PushInDword(handle); })->result, S_OK);
    EXPECT_TRUE(log.Records().empty()); // searches write no log records
}

TEST_F(WinFileTest, FindPatternsFollowThePlatformRules)
{
    for (const char* name : {"b.ad", "A.AD", "c.txt", "noext", "ab.txt", "settings.ad.bak"})
        ASSERT_TRUE(tqtest::WriteFileText(InFolder(name), "x"));
    std::filesystem::create_directory(InFolder("sub"));
    auto list = [&](const char* pattern) {
        std::vector<std::string> names;
        auto r = Call(1008, [&](CInvokeData& c) { c.PushInString(pattern); });
        DWORD handle = 0;
        r->PopOutDword(&handle);
        if (handle == kNoHandle)
            return names;
        names.push_back(AsFindRecord(PopOutBytes(*r)).fileName);
        for (;;) {
            auto n = Call(1009, [&](CInvokeData& c) { c.PushInDword(handle); });
            if (n->result != S_OK)
                break;
            names.push_back(AsFindRecord(PopOutBytes(*n)).fileName);
        }
        Call(1010, [&](CInvokeData& c) { c.PushInDword(handle); });
        return names;
    };
    using V = std::vector<std::string>;
    EXPECT_EQ(list("*.ad"), (V{"A.AD", "b.ad"}));
    EXPECT_EQ(list("?.txt"), (V{"c.txt"}));
    EXPECT_EQ(list("*b*"), (V{"ab.txt", "b.ad", "settings.ad.bak", "sub"}));
    EXPECT_EQ(list("NOEXT"), (V{"noext"}));
    EXPECT_EQ(list("noext.*"), (V{"noext"}));
    EXPECT_EQ(list("*."), (V{".", "..", "noext", "sub"}));
    EXPECT_EQ(list("*.*"), (V{".", "..", "A.AD", "ab.txt", "b.ad", "c.txt", "noext", "settings.ad.bak", "sub"}));
    EXPECT_EQ(list("*"), list("*.*"));
    EXPECT_EQ(list("ignored\\*.txt"), (V{"ab.txt", "c.txt"}));

    auto r = Call(1008, [](CInvokeData& c) { c.PushInString("su?"); });
    DWORD handle = 0;
    r->PopOutDword(&handle);
    FileFindRecord sub = AsFindRecord(PopOutBytes(*r));
    EXPECT_EQ(sub.attributes, FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ(sub.sizeLow, 0u);
    Call(1010, [&](CInvokeData& c) { c.PushInDword(handle); });
}

TEST_F(WinFileTest, WholeFiles)
{
    std::string content = "stale";
    EXPECT_EQ(ReadWhole("none.ad", &content), kFileNotFound);
    EXPECT_EQ(content, "");
    EXPECT_EQ(WriteWhole("w.ad", std::string("long content\0with nul", 21)), S_OK);
    EXPECT_EQ(WriteWhole("w.ad", "short"), S_OK); // truncates
    EXPECT_EQ(ReadWhole("w.ad", &content), S_OK);
    EXPECT_EQ(content, "short");
    EXPECT_EQ(WriteWhole("empty.ad", ""), S_OK);
    EXPECT_EQ(ReadWhole("empty.ad", &content), S_OK);
    EXPECT_EQ(content, "");
    EXPECT_TRUE(log.Records().empty());
}

// A large file is not read by the call: its reply item reads it when the
// reply is encoded or sent, holding the file under a handle until the record
// lets it go, and always with the size the call found.
TEST_F(WinFileTest, LargeWholeFileReadsKeepTheSizeOfTheCall)
{
    std::string content(CWinFileImpl::kReadAsSentFrom + 1000, '\0');
    for (size_t i = 0; i < content.size(); ++i)
        content[i] = static_cast<char>(i * 11 + i / 253);
    ASSERT_TRUE(tqtest::WriteFileText(InFolder("big.bin"), content));
    const size_t openBefore = CFileHandleTable::Process().Count();
    auto encoded = [](CInvokeData& r, std::vector<BYTE>* blob) {
        blob->assign(r.GetEncodedSize(InvokeModeReply), 0);
        return r.Encode(blob->data(), static_cast<LONG>(blob->size()), InvokeModeReply);
    };
    {
        auto r = Call(1012, [](CInvokeData& c) { c.PushInString("big.bin"); });
        EXPECT_EQ(r->result, S_OK);
        ASSERT_EQ(r->OutCount(), 1u);
        EXPECT_EQ(r->OutItems().front().length, content.size());
        EXPECT_EQ(CFileHandleTable::Process().Count(), openBefore + 1);
        std::vector<BYTE> blob;
        ASSERT_EQ(encoded(*r, &blob), static_cast<LONG>(40 + 8 + content.size()));
        EXPECT_EQ(std::string(blob.end() - content.size(), blob.end()), content);
        // Grown since the call: the bytes the call saw the size of.
        ASSERT_EQ(::truncate(InFolder("big.bin").c_str(), off_t(content.size() + 10)), 0);
        ASSERT_EQ(encoded(*r, &blob), static_cast<LONG>(40 + 8 + content.size()));
        EXPECT_EQ(std::string(blob.end() - content.size(), blob.end()), content);
        // Cut since the call: no encoding passes for the reply.
        ASSERT_EQ(::truncate(InFolder("big.bin").c_str(), off_t(content.size() - 1)), 0);
        EXPECT_EQ(encoded(*r, &blob), E_FAIL);
    }
    EXPECT_EQ(CFileHandleTable::Process().Count(), openBefore);

    // Popped, the item is read then; a smaller file is read by the call.
    ASSERT_TRUE(tqtest::WriteFileText(InFolder("big.bin"), content));
    std::string back;
    EXPECT_EQ(ReadWhole("big.bin", &back), S_OK);
    EXPECT_EQ(back, content);
    content.resize(CWinFileImpl::kReadAsSentFrom - 1);
    ASSERT_TRUE(tqtest::WriteFileText(InFolder("small.ad"), content));
    auto smaller = Call(1012, [](CInvokeData& c) { c.PushInString("small.ad"); });
    EXPECT_EQ(CFileHandleTable::Process().Count(), openBefore);
    ASSERT_EQ(::truncate(InFolder("small.ad").c_str(), 10), 0);
    EXPECT_EQ(Text(PopOutBytes(*smaller)), content);
}

// As the host's stub hands it over: the content is borrowed from the
// received request, written from there, and the item is used up.
TEST_F(WinFileTest, WholeFileWriteFromABorrowedRequest)
{
    std::string content(200000, '\0');
    for (size_t i = 0; i < content.size(); ++i)
        content[i] = static_cast<char>(i * 7 + i / 251);
    for (const std::string& data : {content, std::string("small")}) {
        CInvokeData request(1011);
        request.PushInString("big.bin");
        request.PushInBytes(data.data(), static_cast<DWORD>(data.size()));
        std::vector<BYTE> blob(request.GetEncodedSize(InvokeModeRequest));
        request.Encode(blob.data(), static_cast<LONG>(blob.size()), InvokeModeRequest);

        CInvokeData record;
        ASSERT_TRUE(record.Decode(blob.data(), blob.size(), true));
        record.result = E_NOTIMPL;
        EXPECT_EQ(files.Dispatch(&record), S_OK);
        EXPECT_EQ(record.result, S_OK);
        EXPECT_EQ(record.InCount(), 0u);
        std::string back;
        EXPECT_EQ(ReadWhole("big.bin", &back), S_OK);
        EXPECT_EQ(back, data);
    }
}

// A whole-file write replaces the file at once: the new content is written
// beside it and renamed over it, and whatever fails leaves the old file.
TEST_F(WinFileTest, WholeFileWritesReplaceTheFileOrLeaveIt)
{
    ASSERT_TRUE(tqtest::WriteFileText(InFolder("w.ad"), "old"));
    ASSERT_EQ(::chmod(InFolder("w.ad").c_str(), 0640), 0);
    // A temporary file a crash left behind is simply overwritten.
    ASSERT_TRUE(tqtest::WriteFileText(InFolder("w.ad.partial"), std::string(100, 'p')));
    EXPECT_EQ(WriteWhole("w.ad", "new"), S_OK);
    EXPECT_EQ(tqtest::ReadFileText(InFolder("w.ad")), "new");
    EXPECT_FALSE(std::filesystem::exists(InFolder("w.ad.partial")));
    struct stat st {};
    ASSERT_EQ(::stat(InFolder("w.ad").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u) << "the file keeps its mode";

    // The new content cannot be written: the old stays, nothing is left beside it.
    std::filesystem::create_directory(InFolder("w.ad.partial"));
    EXPECT_TRUE(FAILED(WriteWhole("w.ad", "lost")));
    EXPECT_EQ(tqtest::ReadFileText(InFolder("w.ad")), "new");
    std::filesystem::remove(InFolder("w.ad.partial"));

    // Only plain files are replaced.
    std::filesystem::create_directory(InFolder("dir"));
    ASSERT_EQ(::mkfifo(InFolder("fifo").c_str(), 0600), 0);
    for (const char* name : {"dir", "fifo"})
        EXPECT_EQ(WriteWhole(name, "x"), kAccessDenied) << name;
    EXPECT_TRUE(std::filesystem::is_directory(InFolder("dir")));
    EXPECT_TRUE(std::filesystem::is_fifo(InFolder("fifo")));
    EXPECT_FALSE(std::filesystem::exists(InFolder("dir.partial")));
}

// Readers meanwhile see the old content or the new one, never a part.
TEST_F(WinFileTest, ReadersNeverSeeAPartOfAWholeFileWrite)
{
    const std::string a(200000, 'a'), b(150000, 'b');
    ASSERT_EQ(files.WriteWholeFile("r.bin", a.data(), static_cast<LONG>(a.size())), S_OK);
    std::atomic<bool> done{false};
    std::thread writer([&] {
        for (int i = 0; i < 40; ++i) {
            const std::string& next = i % 2 == 0 ? b : a;
            EXPECT_EQ(files.WriteWholeFile("r.bin", next.data(), static_cast<LONG>(next.size())), S_OK);
        }
        done = true;
    });
    int torn = 0;
    while (!done) {
        const std::string seen = tqtest::ReadFileText(InFolder("r.bin"));
        torn += seen != a && seen != b;
    }
    writer.join();
    EXPECT_EQ(torn, 0);
}

TEST_F(WinFileTest, UnknownCodeIsNotImplemented)
{
    CInvokeData r(1013);
    r.PushInString("x");
    EXPECT_EQ(files.Dispatch(&r), E_NOTIMPL);
    EXPECT_EQ(r.result, E_NOTIMPL);
    EXPECT_EQ(r.OutCount(), 0u);
    EXPECT_TRUE(log.Records().empty());
}

TEST_F(WinFileTest, ExceptionInAHandlerEndsTheCallWithAnExceptionRecord)
{
    dispatchtest::ThrowOnKinds(log, {0});
    CInvokeData r(1004);
    r.result = E_NOTIMPL;
    r.PushInDword(0x104);
    EXPECT_EQ(files.Dispatch(&r), E_UNEXPECTED);
    EXPECT_EQ(r.result, E_NOTIMPL);
    dispatchtest::ExpectExceptionOnly(log, "CloseFile", "CWinFileImpl::OnCloseFile", 552);

    // A log sink that fails even for the exception record changes nothing more.
    dispatchtest::ThrowOnKinds(log, {0, 2});
    log.Clear();
    CInvokeData again(1006);
    again.PushInString("x");
    EXPECT_EQ(files.Dispatch(&again), E_UNEXPECTED);
    EXPECT_TRUE(log.Records().empty());
}

TEST_F(WinFileTest, FolderText)
{
    char buffer[260];
    EXPECT_EQ(files.GetFolder(buffer, sizeof buffer), S_OK);
    EXPECT_EQ(std::string(buffer), Folder() + "/");
    EXPECT_EQ(files.SetFolder(&log, ""), E_UNEXPECTED);
    EXPECT_EQ(files.SetFolder(&log, nullptr), E_UNEXPECTED);
    EXPECT_EQ(files.GetFolder(buffer, sizeof buffer), S_OK);
    EXPECT_EQ(std::string(buffer), Folder() + "/") << "a refused folder changes nothing";
    EXPECT_EQ(files.SetFolder(&log, "/srv/store/"), S_OK);
    EXPECT_EQ(files.GetFolder(buffer, sizeof buffer), S_OK);
    EXPECT_STREQ(buffer, "/srv/store/");
    char small[5] = "abcd";
    EXPECT_EQ(files.GetFolder(small, sizeof small), E_OUTOFMEMORY);
    EXPECT_STREQ(small, "");

    CWinFileImpl unset;
    LONG handle = 0;
    EXPECT_EQ(unset.OpenFile("x", GENERIC_WRITE, &handle), static_cast<HRESULT>(0x80070003u));
    EXPECT_EQ(handle, -1);
}

TEST_F(WinFileTest, InterfaceArgumentChecks)
{
    LONG handle = 7;
    EXPECT_EQ(files.OpenFile(nullptr, GENERIC_READ, &handle), E_INVALIDARG);
    EXPECT_EQ(handle, 7); // touched nothing
    EXPECT_EQ(files.OpenFile("x", GENERIC_READ, nullptr), E_INVALIDARG);
    DWORD got = 0;
    EXPECT_EQ(files.ReadFile(0x104, nullptr, 4, &got), E_INVALIDARG);
    EXPECT_EQ(files.WriteFile(0x104, nullptr, 4), E_INVALIDARG);
    EXPECT_EQ(files.GetFileDate("x", nullptr), E_INVALIDARG);
    EXPECT_EQ(files.GetFileSize(nullptr, &handle), E_INVALIDARG);
    EXPECT_EQ(files.FindFirstFile("*", &handle, nullptr), E_INVALIDARG);
    EXPECT_EQ(files.FindNextFile(0x104, nullptr), E_INVALIDARG);
    BYTE* buffer = nullptr;
    EXPECT_EQ(files.ReadWholeFile("x", &buffer, nullptr), E_INVALIDARG);
    EXPECT_EQ(files.WriteWholeFile("x", nullptr, 3), E_INVALIDARG);
    EXPECT_EQ(files.WriteWholeFile("x", "abc", -1), E_INVALIDARG);
    EXPECT_TRUE(std::filesystem::is_empty(Folder()));
}
