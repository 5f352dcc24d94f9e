#include "console/core/FolderMove.h"

#include "console/core/ServiceCommands.h"
#include "console/core/StoredConfiguration.h"
#include "tests/console/core/ConsoleRegistry.h"

#include "platform/file/FolderLock.h"
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

// As a console started after a kill finds it: only what the journal kept,
// and none of the killed console's locks.
CFolderMove ThroughTheJournal(CFolderMove move)
{
    CRegistryTransaction journal;
    move.Write(journal, "SOFTWARE\\Journal");
    move.WriteScratchIdentity(journal);
    EXPECT_EQ(journal.Commit(), ERROR_SUCCESS);
    move = CFolderMove();
    return CFolderMove::Read("SOFTWARE\\Journal");
}

using Outcome = CFolderMove::Outcome;

// Settles the move as a console finds the registry with one stored record,
// "S", naming folder ("" for none).
Outcome SettleNaming(CFolderMove& move, const std::string& folder, bool unsaved = false)
{
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, tq::kVirtualServersKey);
    if (!folder.empty())
        consoletest::StoreServer("S", 40000, folder);
    CStoredConfiguration stored;
    EXPECT_EQ(stored.Read(), ERROR_SUCCESS);
    return move.Settle(stored, unsaved);
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
        CFolderMove move("S", "T", c.from, to + "/");
        ASSERT_EQ(move.Plan(), S_OK);
        ASSERT_EQ(move.MakeScratch(), S_OK);
        EXPECT_TRUE(fs::is_directory(move.Scratch()));
        ASSERT_EQ(move.Apply(Root() + "/default/"), S_OK);
        const std::string scratch = move.Scratch();
        if (c.from.empty()) {
            EXPECT_EQ(tqtest::ReadFileText(to + "/appmgr.ad"), "admin");
        } else {
            EXPECT_EQ(tqtest::ReadFileText(to + "/sub/userlist.fdb"), "users");
            EXPECT_EQ(fs::read_symlink(to + "/link"), "sub/userlist.fdb");
        }
        CFolderMove found = ThroughTheJournal(std::move(move));
        const std::string named = c.finish ? to + "/" : c.from;
        EXPECT_EQ(SettleNaming(found, named, !c.finish), Outcome::Done) << found.Problem();
        EXPECT_EQ(SettleNaming(found, named, !c.finish), Outcome::Done); // a second run finds nothing left to do
        // One copy remains, where the registry names it, and no scratch folder.
        EXPECT_FALSE(fs::exists(scratch));
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
    CFolderMove move("S", "T", Root() + "/A/", Root() + "/B/");
    ASSERT_EQ(move.Plan(), S_OK);
    ASSERT_EQ(move.MakeScratch(), S_OK);
    // Killed before the move; meanwhile someone made the target.
    fs::create_directories(Root() + "/B");
    tqtest::WriteFileText(Root() + "/B/theirs", "x");
    const std::string scratch = move.Scratch();
    CFolderMove found = ThroughTheJournal(std::move(move));
    EXPECT_EQ(SettleNaming(found, Root() + "/A/"), Outcome::Left);
    EXPECT_NE(found.Problem().find("\"" + Root() + "/B\" is not the folder the save noted"), std::string::npos);
    EXPECT_TRUE(fs::exists(Root() + "/B/theirs"));
    EXPECT_TRUE(fs::exists(Root() + "/A"));
    EXPECT_FALSE(fs::exists(scratch));
    // Moved, and the old name taken again since: nothing is put over it.
    fs::remove_all(Root() + "/B");
    CFolderMove again("S", "T", Root() + "/A/", Root() + "/B/");
    ASSERT_EQ(again.Plan(), S_OK);
    ASSERT_EQ(again.MakeScratch(), S_OK);
    ASSERT_EQ(again.Apply(""), S_OK);
    fs::create_directories(Root() + "/A");
    EXPECT_EQ(SettleNaming(again, Root() + "/A/"), Outcome::Stranded);
    EXPECT_NE(again.Problem().find("cannot go back to \"" + Root() + "/A\""), std::string::npos) << again.Problem();
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
    CFolderMove move("S", "T", Root() + "/A/", small + "/A/");
    ASSERT_EQ(move.Plan(), S_OK);
    ASSERT_EQ(move.MakeScratch(), S_OK);
    const HRESULT hr = move.Apply("");
    EXPECT_EQ(CServiceCommands::ErrorText(hr), "There is not enough space on the disk.");
    EXPECT_EQ(SettleNaming(move, Root() + "/A/"), Outcome::Done);
    EXPECT_TRUE(fs::is_empty(small));
    EXPECT_EQ(fs::file_size(Root() + "/A/userlist.fdb"), 256u * 1024);
    ::umount(small.c_str());
}

TEST_F(FolderMoveTest, OnlyTheOriginalOfACompleteCopyIsEverRemoved)
{
    tqtest::TempFolder elsewhere("/dev/shm");
    if (DeviceOf(elsewhere.Path()) == DeviceOf(Root()))
        GTEST_SKIP() << "no second file system";
    const auto seeded = [](const std::string& folder) {
        fs::create_directories(folder);
        tqtest::WriteFileText(folder + "/userlist.fdb", "users");
        return folder + "/";
    };
    const auto applied = [](const std::string& from, const std::string& to) {
        CFolderMove move("S", "T", from, to);
        EXPECT_EQ(move.Plan(), S_OK);
        EXPECT_EQ(move.MakeScratch(), S_OK);
        EXPECT_EQ(move.Apply(""), S_OK);
        return ThroughTheJournal(std::move(move));
    };
    // Renamed, and put back under its old name by hand before the finish.
    CFolderMove renamed = applied(seeded(Root() + "/A"), Root() + "/B/");
    fs::rename(Root() + "/B", Root() + "/A");
    EXPECT_EQ(SettleNaming(renamed, Root() + "/B/"), CFolderMove::Outcome::Done);
    EXPECT_EQ(tqtest::ReadFileText(Root() + "/A/userlist.fdb"), "users");

    // Copied, and the copy gone from where the list names it: the original stays.
    CFolderMove copied = applied(seeded(elsewhere.Path() + "/C"), Root() + "/D/");
    fs::rename(Root() + "/D", Root() + "/D.moved-away");
    fs::create_directories(Root() + "/D");
    EXPECT_EQ(SettleNaming(copied, Root() + "/D/"), CFolderMove::Outcome::Done);
    EXPECT_EQ(tqtest::ReadFileText(elsewhere.Path() + "/C/userlist.fdb"), "users");

    // A running server holds the original: nothing is removed until it lets go.
    CFolderMove held = applied(seeded(elsewhere.Path() + "/E"), Root() + "/F/");
    CFolderLock running;
    ASSERT_TRUE(running.TryLock((elsewhere.Path() + "/E").c_str(), CFolderLock::Mode::Shared));
    EXPECT_EQ(SettleNaming(held, Root() + "/F/"), CFolderMove::Outcome::InUse);
    EXPECT_NE(held.Problem().find("is in use by a running server"), std::string::npos);
    EXPECT_TRUE(fs::exists(elsewhere.Path() + "/E/userlist.fdb"));
    running.Unlock();
    EXPECT_EQ(SettleNaming(held, Root() + "/F/"), CFolderMove::Outcome::Done);
    EXPECT_FALSE(fs::exists(elsewhere.Path() + "/E"));
    EXPECT_EQ(tqtest::ReadFileText(Root() + "/F/userlist.fdb"), "users");
    // An undo leaves an original alone, served or not, and removes the copy.
    CFolderMove served = applied(seeded(elsewhere.Path() + "/I"), Root() + "/J/");
    ASSERT_TRUE(running.TryLock((elsewhere.Path() + "/I").c_str(), CFolderLock::Mode::Shared));
    EXPECT_EQ(SettleNaming(served, elsewhere.Path() + "/I/"), CFolderMove::Outcome::Done) << served.Problem();
    EXPECT_FALSE(fs::exists(Root() + "/J"));
    EXPECT_TRUE(fs::exists(elsewhere.Path() + "/I/userlist.fdb"));
    running.Unlock();

    // The original of a copy gone before the undo: the copy goes back whole;
    // its old name taken by something else: the copy stays, and says where.
    for (const bool taken : {false, true}) {
        CFolderMove orphaned = applied(seeded(elsewhere.Path() + "/G"), Root() + "/H/");
        fs::remove_all(elsewhere.Path());
        if (taken)
            fs::create_directories(elsewhere.Path() + "/G");
        EXPECT_EQ(SettleNaming(orphaned, elsewhere.Path() + "/G/"),
                  taken ? CFolderMove::Outcome::Stranded : CFolderMove::Outcome::Done)
            << orphaned.Problem();
        EXPECT_EQ(tqtest::ReadFileText((taken ? Root() + "/H" : elsewhere.Path() + "/G") + "/userlist.fdb"), "users");
        EXPECT_EQ(fs::exists(Root() + "/H"), taken);
        fs::remove_all(Root() + "/H");
    }
}
