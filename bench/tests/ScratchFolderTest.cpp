#include "bench/ScratchFolder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

using tqbench::ScratchFolder;

TEST(ScratchFolder, IsFreshAndGoesWithItsContentUnlessKept)
{
    std::string path, kept;
    {
        ScratchFolder a, b;
        ASSERT_TRUE(a.Valid());
        ASSERT_TRUE(b.Valid());
        EXPECT_NE(a.Path(), b.Path());
        path = a.Path();
        std::filesystem::create_directories(a / "store1000");
        std::ofstream(a / "store1000/userlist.fdb") << "data";
        ASSERT_TRUE(std::filesystem::exists(path + "/store1000/userlist.fdb"));
        b.Keep();
        kept = b.Path();
    }
    EXPECT_FALSE(std::filesystem::exists(path));
    EXPECT_TRUE(std::filesystem::is_directory(kept));
    std::filesystem::remove_all(kept);
}

TEST(ScratchFolder, LivesUnderTmpdir)
{
    ScratchFolder outer;
    ASSERT_TRUE(outer.Valid());
    const char* old = std::getenv("TMPDIR");
    std::string saved = old != nullptr ? old : "";
    ::setenv("TMPDIR", outer.Path().c_str(), 1);
    {
        ScratchFolder inner;
        ASSERT_TRUE(inner.Valid());
        EXPECT_EQ(inner.Path().rfind(outer.Path() + "/tqbench.", 0), 0u) << inner.Path();
    }
    if (old != nullptr)
        ::setenv("TMPDIR", saved.c_str(), 1);
    else
        ::unsetenv("TMPDIR");
    // A folder that cannot be made leaves the scratch folder invalid.
    ::setenv("TMPDIR", "/nonexistent/folder", 1);
    ScratchFolder none;
    EXPECT_FALSE(none.Valid());
    if (old != nullptr)
        ::setenv("TMPDIR", saved.c_str(), 1);
    else
        ::unsetenv("TMPDIR");
}
