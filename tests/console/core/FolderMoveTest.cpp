#include "console/core/FolderMove.h"

#include "console/core/ServiceCommands.h"

#include "platform/registry/RegistryTransaction.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>

namespace fs = std::filesystem;

namespace {

dev_t DeviceOf(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? st.st_dev : 0;
}

// As a console started after a kill finds it: only what the journal kept.
CFolderMove ThroughTheJournal(const CFolderMove& move)
{
    CRegistryTransaction journal;
    move.Write(journal, "SOFTWARE\\Journal");
    move.WriteScratchIdentity(journal, "SOFTWARE\\Journal");
    EXPECT_EQ(journal.Commit(), ERROR_SUCCESS);
    return CFolderMove::Read("SOFTWARE\\Journal");
}

class FolderMoveTest : public tqtest::StateRootTest {};

} // namespace

TEST_F(FolderMoveTest, MovesAndNewFoldersAreUndoneOrFinishedFromWhatIsOnDisk)
{
    tqtest::TempFolder elsewhere("/dev/shm");
    const bool twoFileSystems = DeviceOf(elsewhere.Path()) != 0 && DeviceOf(elsewhere.Path()) != DeviceOf(Root());
    fs::create_directories(Root() + "/default");
    tqtest::WriteFileText(Root() + "/default/appmgr.ad", "admin");
    struct Case {
        std::string from; // "" for a new folder
        bool finish;
    };
    for (const Case& c : {Case{Root() + "/A/", false}, Case{Root() + "/B/", true}, Case{elsewhere.Path() + "/C/", false},
                          Case{elsewhere.Path() + "/D/", true}, Case{"", false}, Case{"", true}}) {
        SCOPED_TRACE(c.from);
        if (c.from.rfind(elsewhere.Path(), 0) == 0 && !twoFileSystems)
            continue;
        const std::string to = Root() + "/deeper/moved";
        if (!c.from.empty()) {
            fs::create_directories(c.from + "sub");
            tqtest::WriteFileText(c.from + "sub/userlist.fdb", "users");
            fs::create_symlink("sub/userlist.fdb", c.from + "link");
        }
        CFolderMove move("S", c.from, to + "/");
        ASSERT_EQ(move.Plan(), S_OK);
        ASSERT_EQ(move.MakeScratch(), S_OK);
        EXPECT_TRUE(fs::is_directory(move.Scratch()));
        ASSERT_EQ(move.Apply(Root() + "/default/"), S_OK);
        EXPECT_FALSE(fs::exists(move.Scratch()));
        if (c.from.empty()) {
            EXPECT_EQ(tqtest::ReadFileText(to + "/appmgr.ad"), "admin");
        } else {
            EXPECT_EQ(tqtest::ReadFileText(to + "/sub/userlist.fdb"), "users");
            EXPECT_EQ(fs::read_symlink(to + "/link"), "sub/userlist.fdb");
        }
        const CFolderMove found = ThroughTheJournal(move);
        if (c.finish) {
            found.Finish();
        } else {
            EXPECT_EQ(found.Undo(), "");
            EXPECT_EQ(found.Undo(), ""); // a second run finds nothing left to do
        }
        // One copy remains, where the registry names it.
        EXPECT_EQ(fs::exists(to), c.finish);
        if (!c.from.empty()) {
            EXPECT_EQ(fs::exists(c.from), !c.finish);
            EXPECT_EQ(tqtest::ReadFileText((c.finish ? to + "/" : c.from) + "sub/userlist.fdb"), "users");
        }
        fs::remove_all(Root() + "/deeper");
    }
}

TEST_F(FolderMoveTest, UndoLeavesAloneWhatIsNotOurs)
{
    fs::create_directories(Root() + "/A");
    CFolderMove move("S", Root() + "/A/", Root() + "/B/");
    ASSERT_EQ(move.Plan(), S_OK);
    ASSERT_EQ(move.MakeScratch(), S_OK);
    // Killed before the move; meanwhile someone made the target.
    fs::create_directories(Root() + "/B");
    tqtest::WriteFileText(Root() + "/B/theirs", "x");
    EXPECT_EQ(ThroughTheJournal(move).Undo(), "");
    EXPECT_TRUE(fs::exists(Root() + "/B/theirs"));
    EXPECT_TRUE(fs::exists(Root() + "/A"));
    EXPECT_FALSE(fs::exists(move.Scratch()));
    // Moved, and the old name taken again since: nothing is put over it.
    ASSERT_EQ(move.Apply(""), HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS));
    fs::remove_all(Root() + "/B");
    CFolderMove again("S", Root() + "/A/", Root() + "/B/");
    ASSERT_EQ(again.Plan(), S_OK);
    ASSERT_EQ(again.MakeScratch(), S_OK);
    ASSERT_EQ(again.Apply(""), S_OK);
    fs::create_directories(Root() + "/A");
    EXPECT_NE(again.Undo().find("cannot be moved back"), std::string::npos);
    EXPECT_TRUE(fs::exists(Root() + "/B"));
}

TEST_F(FolderMoveTest, AFullDiskSaysSoAndLeavesTheOriginal)
{
    // A small file system of its own, seen by this process alone.
    const std::string small = Root() + "/small";
    fs::create_directories(small);
    if (::unshare(CLONE_NEWNS) != 0 || ::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        ::mount("tmpfs", small.c_str(), "tmpfs", 0, "size=64k") != 0)
        GTEST_SKIP() << "cannot mount a file system here";
    fs::create_directories(Root() + "/A");
    tqtest::WriteFileText(Root() + "/A/userlist.fdb", std::string(256 * 1024, 'u'));
    CFolderMove move("S", Root() + "/A/", small + "/A/");
    ASSERT_EQ(move.Plan(), S_OK);
    ASSERT_EQ(move.MakeScratch(), S_OK);
    const HRESULT hr = move.Apply("");
    EXPECT_EQ(CServiceCommands::ErrorText(hr), "There is not enough space on the disk.");
    EXPECT_EQ(move.Undo(), "");
    EXPECT_TRUE(fs::is_empty(small));
    EXPECT_EQ(fs::file_size(Root() + "/A/userlist.fdb"), 256u * 1024);
    ::umount(small.c_str());
}
