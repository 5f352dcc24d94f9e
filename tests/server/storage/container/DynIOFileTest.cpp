// Containers in a real storage folder, through the server's file access.
#include "server/storage/container/DynIO.h"

#include "server/dispatch/WinFileImpl.h"
#include "tests/server/storage/container/ContainerTestSupport.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

namespace {

using tqtest::Bytes;

class DynIOFileTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(files.SetFolder(nullptr, folder.Path().c_str()), S_OK); }

    Bytes OnDisk(const std::string& name) const
    {
        std::ifstream in(folder / name, std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    void PutOnDisk(const std::string& name, const Bytes& bytes) const
    {
        std::ofstream out(folder / name, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }

    tqtest::TempFolder folder;
    CWinFileImpl files;
    CDynIO io{&files};
};

TEST_F(DynIOFileTest, SaveAndLoadInTheFolder)
{
    CAttributeDirectory dir;
    ASSERT_TRUE(tqtest::AddText(dir, "LDAPServer", 1, 1, "directory.example.org"));
    ASSERT_TRUE(tqtest::AddText(dir, "LDAPAccount", 1, 2, "cn=reader,dc=example,dc=org"));
    const Bytes stream = tqtest::StreamOf(dir);
    for (DWORD flags : {0u, 1u, 2u, 4u, 6u}) {
        ASSERT_EQ(io.Save("LDAPConfig.ad", &dir, flags), S_OK) << flags;
        const Bytes file = OnDisk("LDAPConfig.ad");
        ASSERT_GE(file.size(), CDynIO::kHeaderSize);
        EXPECT_EQ(tqtest::WordAt(file, 12), 1u);
        CAttributeDirectory loaded;
        ASSERT_EQ(io.Load("LDAPConfig.ad", &loaded), S_OK) << flags;
        EXPECT_TRUE(tqtest::StreamOf(loaded) == stream) << flags;
    }
    // A shorter save truncates what was there.
    CAttributeDirectory empty;
    ASSERT_EQ(io.Save("LDAPConfig.ad", &empty, 6), S_OK);
    EXPECT_EQ(OnDisk("LDAPConfig.ad").size(), CDynIO::kHeaderSize);
}

TEST_F(DynIOFileTest, MissingAndEmptyFiles)
{
    CAttributeDirectory dir;
    EXPECT_EQ(io.Load("settings.ad", &dir), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
    PutOnDisk("settings.ad", {});
    EXPECT_EQ(io.Load("settings.ad", &dir), S_OK);
    PutOnDisk("settings.ad", Bytes(55, 0xEE));
    EXPECT_EQ(io.Load("settings.ad", &dir), S_OK);
    EXPECT_EQ(tqtest::CountOf(dir), 0);
}

TEST_F(DynIOFileTest, DamagedFileOnDisk)
{
    CAttributeDirectory dir;
    ASSERT_TRUE(tqtest::AddText(dir, "Name", 1, 1, "value"));
    ASSERT_EQ(io.Save("settings.ad", &dir, 6), S_OK);
    Bytes file = OnDisk("settings.ad");
    file[50] ^= 0x10; // a time byte
    PutOnDisk("settings.ad", file);
    CAttributeDirectory loaded;
    EXPECT_EQ(io.Load("settings.ad", &loaded), SEC_E_MESSAGE_ALTERED);
}

// Something other than a file under the name: the folder layer refuses it,
// and the failure comes back as it is.
TEST_F(DynIOFileTest, NotAFile)
{
    std::filesystem::create_directory(folder / "settings.ad");
    CAttributeDirectory dir;
    EXPECT_TRUE(FAILED(io.Load("settings.ad", &dir)));
    ASSERT_TRUE(tqtest::AddText(dir, "Name", 1, 1, "value"));
    EXPECT_TRUE(FAILED(io.Save("settings.ad", &dir, 6)));
}

} // namespace
