// Whole folders copied and removed without following links or entering mounts.
#include "platform/file/FolderTree.h"
#include "platform/win/LastError.h"
#include "tests/support/TestSupport.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <sched.h>
#include <string>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;
using tqtest::ReadFileText;
using tqtest::TempFolder;
using tqtest::WriteFileText;

namespace {

unsigned Bits(const std::string& path)
{
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : ~0u;
}

std::string LinkTarget(const std::string& path)
{
    std::error_code ec;
    return fs::read_symlink(path, ec).string();
}

// A folder beside the tree that links in it point to.
struct Outside {
    TempFolder folder;
    std::string file = folder / "secret";
    Outside() { WriteFileText(file, "outside"); }
};

} // namespace

TEST(FolderTree, CopyKeepsFilesBitsAndLinksAndSkipsOtherKinds)
{
    TempFolder from, into;
    Outside outside;
    const std::string big(200 * 1024 + 7, 'b'); // several reads
    ASSERT_TRUE(WriteFileText(from / "big", big));
    ASSERT_EQ(::chmod((from / "big").c_str(), 0660), 0); // the umask would take group write
    ASSERT_EQ(::mkdir((from / "sub").c_str(), 0750), 0);
    ASSERT_TRUE(WriteFileText(from / "sub/run", "#!"));
    ASSERT_EQ(::chmod((from / "sub/run").c_str(), 0755), 0);
    ASSERT_EQ(::mkdir((from / "sealed").c_str(), 0500), 0);
    ASSERT_EQ(::mkdir((from / "sub/empty").c_str(), 0700), 0);
    ASSERT_EQ(::symlink(outside.file.c_str(), (from / "abs").c_str()), 0);
    ASSERT_EQ(::symlink(outside.folder.Path().c_str(), (from / "sub/dir").c_str()), 0);
    ASSERT_EQ(::symlink("../nowhere", (from / "dangling").c_str()), 0);
    ASSERT_EQ(::mkfifo((from / "fifo").c_str(), 0600), 0);

    ASSERT_TRUE(CopyFolderTree(from.Path().c_str(), (into.Path() + "/").c_str()));
    EXPECT_EQ(ReadFileText(into / "big"), big);
    EXPECT_EQ(Bits(into / "big"), 0660u);
    EXPECT_EQ(Bits(into / "sub"), 0750u);
    EXPECT_EQ(Bits(into / "sub/run"), 0755u);
    EXPECT_EQ(Bits(into / "sealed"), 0500u);
    EXPECT_TRUE(fs::is_empty(into / "sub/empty"));
    EXPECT_EQ(LinkTarget(into / "abs"), outside.file);
    EXPECT_EQ(LinkTarget(into / "sub/dir"), outside.folder.Path());
    EXPECT_EQ(LinkTarget(into / "dangling"), "../nowhere");
    EXPECT_FALSE(fs::exists(fs::symlink_status(into / "fifo")));
    EXPECT_EQ(ReadFileText(outside.file), "outside");
    EXPECT_EQ(std::distance(fs::directory_iterator(outside.folder.Path()), fs::directory_iterator()), 1);

    // Nothing is replaced: a second copy stops at the first name there.
    EXPECT_FALSE(CopyFolderTree(from.Path().c_str(), into.Path().c_str()));
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
}

// Across file systems nothing is renamed, so every owner and mode is made
// afresh; the top too, which the caller made private while it was filled.
TEST(FolderTree, CopyToAnotherFileSystemKeepsModesOwnersAndGroups)
{
    TempFolder from("/dev/shm"), into;
    struct stat top {}, there {};
    ASSERT_TRUE(::stat(from.Path().c_str(), &top) == 0 && ::stat(into.Path().c_str(), &there) == 0);
    if (top.st_dev == there.st_dev)
        GTEST_SKIP() << "/dev/shm is on the file system of the temporary folder";
    const bool root = ::geteuid() == 0;
    struct Entry {
        std::string name;
        unsigned bits;
        uid_t uid;
        gid_t gid;
    };
    // Owner and group differ, so that one given for the other shows; the
    // set-group-id bit would go if the owner were given after the mode.
    const std::vector<Entry> entries = {
        {"", 0710, 1000, 1000},
        {"appmgr.ad", 0600, 1001, 1002},
        {"sub", 0750, 1000, 1003},
        {"sub/run", 02750, 1000, 1003},
        {"link", 0, 1004, 1005},
    };
    ASSERT_TRUE(WriteFileText(from / "appmgr.ad", "ad") && ::mkdir((from / "sub").c_str(), 0700) == 0 &&
                WriteFileText(from / "sub/run", "#!") && ::symlink("sub/run", (from / "link").c_str()) == 0);
    for (const Entry& e : entries) {
        const std::string path = from / e.name;
        if (root) {
            ASSERT_EQ(::lchown(path.c_str(), e.uid, e.gid), 0) << e.name;
        }
        if (e.name != "link") {
            ASSERT_EQ(::chmod(path.c_str(), e.bits), 0) << e.name;
        }
    }

    ASSERT_TRUE(CopyFolderTree(from.Path().c_str(), into.Path().c_str()));
    EXPECT_EQ(ReadFileText(into / "sub/run"), "#!");
    for (const Entry& e : entries) {
        SCOPED_TRACE(e.name);
        struct stat st {};
        ASSERT_EQ(::lstat((into / e.name).c_str(), &st), 0);
        if (e.name != "link") {
            EXPECT_EQ(st.st_mode & 07777, e.bits);
        }
        if (root) {
            EXPECT_EQ(st.st_uid, e.uid);
            EXPECT_EQ(st.st_gid, e.gid);
        }
    }
}

TEST(FolderTree, RemovalTakesLinksNotTheirTargets)
{
    TempFolder root;
    Outside outside;
    const std::string tree = root / "tree";
    ASSERT_EQ(::mkdir(tree.c_str(), 0755), 0);
    ASSERT_EQ(::mkdir((tree + "/sub").c_str(), 0755), 0);
    ASSERT_TRUE(WriteFileText(tree + "/sub/file", "x"));
    ASSERT_EQ(::symlink(outside.file.c_str(), (tree + "/sub/file-link").c_str()), 0);
    ASSERT_EQ(::symlink(outside.folder.Path().c_str(), (tree + "/folder-link").c_str()), 0);
    ASSERT_EQ(::symlink(outside.folder.Path().c_str(), (root / "link").c_str()), 0);

    // A link, a file or nothing by that name is refused before anything goes.
    struct Case {
        std::string path;
        DWORD error;
    };
    for (const Case& c : {Case{root / "link", ERROR_DIRECTORY}, Case{root / "link/", ERROR_DIRECTORY},
                          Case{outside.file, ERROR_DIRECTORY}, Case{root / "missing", ERROR_FILE_NOT_FOUND}}) {
        EXPECT_FALSE(RemoveFolderTree(c.path.c_str())) << c.path;
        EXPECT_EQ(GetLastError(), c.error) << c.path;
    }
    EXPECT_TRUE(fs::is_symlink(root / "link"));

    ASSERT_TRUE(RemoveFolderTree((tree + "/").c_str()));
    EXPECT_FALSE(fs::exists(fs::symlink_status(tree)));
    EXPECT_EQ(ReadFileText(outside.file), "outside");
    EXPECT_EQ(std::distance(fs::directory_iterator(outside.folder.Path()), fs::directory_iterator()), 1);
}

namespace {

// Mounts made in a mount namespace of this test process alone, taken away
// again when the case ends.
class FolderTreeMountTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (::unshare(CLONE_NEWNS) != 0 || ::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
            GTEST_SKIP() << "cannot mount a file system here";
    }
    void TearDown() override
    {
        for (auto it = mounted_.rbegin(); it != mounted_.rend(); ++it)
            ::umount2(it->c_str(), MNT_DETACH);
    }
    bool Mount(const std::string& source, const std::string& target, const char* type, unsigned long flags)
    {
        if (::mount(source.c_str(), target.c_str(), type, flags, nullptr) != 0)
            return false;
        mounted_.push_back(target);
        return true;
    }

    TempFolder root_;

private:
    std::vector<std::string> mounted_;
};

} // namespace

// A file system of its own has another device; a bind mount of a folder of
// the same file system has the same device and only its mount id differs.
TEST_F(FolderTreeMountTest, AMountInsideIsFoundNeverCopiedAndLeftByTheRemoval)
{
    for (const bool bind : {false, true}) {
        SCOPED_TRACE(bind ? "bind mount" : "tmpfs");
        const std::string tree = root_ / (bind ? "bound" : "tmpfs"), point = tree + "/sub/point";
        const std::string source = root_ / (bind ? "bind-source" : "plain");
        fs::create_directories(point);
        fs::create_directories(source);
        ASSERT_TRUE(WriteFileText(tree + "/plain", "p"));
        ASSERT_TRUE(bind ? Mount(source, point, nullptr, MS_BIND) : Mount("tmpfs", point, "tmpfs", 0));
        ASSERT_TRUE(WriteFileText(point + "/inside", "mounted"));

        std::string found;
        EXPECT_TRUE(FolderHoldsMount(tree.c_str(), &found));
        EXPECT_EQ(found, point);
        EXPECT_TRUE(FolderHoldsMount((point + "/").c_str(), &found));
        EXPECT_EQ(found, point);
        // The bind mount's source is a plain folder.
        EXPECT_FALSE(FolderHoldsMount(source.c_str(), &found));
        EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
        EXPECT_FALSE(FolderHoldsMount((tree + "/plain").c_str(), &found));
        EXPECT_EQ(GetLastError(), ERROR_DIRECTORY);

        const std::string copy = root_ / "copy";
        fs::create_directories(copy);
        EXPECT_FALSE(CopyFolderTree(tree.c_str(), copy.c_str()));
        EXPECT_EQ(GetLastError(), ERROR_NOT_SAME_DEVICE);
        EXPECT_FALSE(fs::exists(copy + "/sub/point"));
        fs::remove_all(copy);

        EXPECT_FALSE(RemoveFolderTree(point.c_str()));
        EXPECT_EQ(GetLastError(), ERROR_BUSY);
        EXPECT_FALSE(RemoveFolderTree(tree.c_str()));
        EXPECT_EQ(GetLastError(), ERROR_BUSY);
        EXPECT_FALSE(fs::exists(tree + "/plain"));
        EXPECT_EQ(ReadFileText(point + "/inside"), "mounted");
    }
}
