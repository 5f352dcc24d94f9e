#include "console/core/FolderChange.h"

#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>

namespace fs = std::filesystem;

namespace {

dev_t DeviceOf(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? st.st_dev : 0;
}

} // namespace

TEST(FolderChange, MovesAreUndoneOrFinishedAlsoAcrossFileSystems)
{
    tqtest::TempFolder here;
    tqtest::TempFolder elsewhere("/dev/shm");
    if (DeviceOf(elsewhere.Path()) == 0 || DeviceOf(elsewhere.Path()) == DeviceOf(here.Path()))
        GTEST_SKIP() << "no second file system to move across";
    struct Case {
        std::string from;
        bool finish;
    };
    for (const Case& c : {Case{here.Path() + "/A/", false}, Case{here.Path() + "/B/", true},
                          Case{elsewhere.Path() + "/C/", false}, Case{elsewhere.Path() + "/D/", true}}) {
        SCOPED_TRACE(c.from);
        const std::string to = here.Path() + "/moved/";
        fs::create_directories(c.from + "sub");
        tqtest::WriteFileText(c.from + "sub/userlist.fdb", "users");
        CFolderChange change;
        ASSERT_EQ(change.Move(c.from, to), S_OK);
        EXPECT_EQ(tqtest::ReadFileText(to + "sub/userlist.fdb"), "users");
        EXPECT_FALSE(fs::exists(here.Path() + "/moved.partial-copy"));
        if (c.finish)
            change.Finish();
        else
            change.Undo();
        // Only one copy remains, where the registry names it.
        EXPECT_EQ(fs::exists(c.from), !c.finish);
        EXPECT_EQ(fs::exists(to), c.finish);
        EXPECT_EQ(tqtest::ReadFileText((c.finish ? to : c.from) + "sub/userlist.fdb"), "users");
        fs::remove_all(to);
    }
}
