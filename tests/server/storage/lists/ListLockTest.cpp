// The lists while another process holds a lock on their file (a backup or
// the sqlite3 shell reading, or a writer in the middle of its transaction),
// and what opening a list reports.
#include "server/storage/lists/SqlLiteCL.h"
#include "server/storage/lists/SqlLiteUL.h"
#include "server/storage/lists/SqlLiteDatabase.h"
#include "tests/server/storage/lists/ListsTestSupport.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fstream>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

// A second process that opens the file, takes a lock with its SQL and holds
// it for a while, or until it is released.
class LockHolder {
public:
    // sql: "BEGIN; SELECT ..." holds a read lock, "BEGIN EXCLUSIVE" a write lock.
    LockHolder(const std::string& path, const char* sql, int holdMs)
    {
        int ready[2];
        if (::pipe(ready) != 0)
            return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::close(ready[0]);
            sqlite3* db = nullptr;
            char ok = 0;
            if (sqlite3_open(path.c_str(), &db) == SQLITE_OK &&
                sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK)
                ok = 1;
            if (::write(ready[1], &ok, 1) != 1)
                ::_exit(2);
            ::usleep(static_cast<useconds_t>(holdMs) * 1000);
            sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
            sqlite3_close(db);
            ::_exit(ok ? 0 : 1);
        }
        ::close(ready[1]);
        char ok = 0;
        locked_ = pid_ > 0 && ::read(ready[0], &ok, 1) == 1 && ok == 1;
        ::close(ready[0]);
    }
    ~LockHolder() { Release(); }
    LockHolder(const LockHolder&) = delete;
    LockHolder& operator=(const LockHolder&) = delete;

    bool Locked() const { return locked_; }
    // Ends the holder at once.
    void Release()
    {
        if (pid_ <= 0)
            return;
        ::kill(pid_, SIGKILL);
        int status = 0;
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
    }
    // Waits for the holder to let go by itself.
    void Wait()
    {
        if (pid_ <= 0)
            return;
        int status = 0;
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
    }

private:
    pid_t pid_ = -1;
    bool locked_ = false;
};

constexpr const char* kReadLock = "BEGIN; SELECT count(*) FROM sqlite_master;";
constexpr const char* kWriteLock = "BEGIN EXCLUSIVE;";
// Well past the lists' own wait for a lock.
constexpr int kLongHoldMs = kListLockWaitMs + 1500;

class ListLockTest : public tqtest::StateRootTest {
protected:
    std::string Path(const char* name) const { return folder / name; }
    // Makes the file with its tables, then lets it go.
    void MakeUserList()
    {
        CSqlLiteUL store(&files, kUserListKeepOpen);
        ASSERT_EQ(store.Load("userlist.fdb"), S_OK);
        ASSERT_EQ(store.CreateTessaryGroup("Other"), S_OK);
    }
    void MakeComputerList()
    {
        CSqlLiteCL store(&files);
        ASSERT_EQ(store.LoadComputerList("complist.fdb"), S_OK);
    }
    std::string Query(const char* name, const std::string& sql) const
    {
        return liststest::QueryText(Path(name), sql);
    }

    tqtest::TempFolder folder;
    liststest::FakeFiles files{folder.Path()};
};

// A commit that another process's read lock refuses is answered as the
// failure it is, and the store is back in autocommit: later changes reach
// the file at once and other processes can read it again.
TEST_F(ListLockTest, UserListCommitRefusedByAReaderIsAFailureAndRolledBack)
{
    MakeUserList();
    CSqlLiteUL store(&files, kUserListKeepOpen);
    ASSERT_EQ(store.Load("userlist.fdb"), S_OK);
    {
        LockHolder reader(Path("userlist.fdb"), kReadLock, kLongHoldMs * 3);
        ASSERT_TRUE(reader.Locked());
        const auto before = Clock::now();
        EXPECT_EQ(store.SetDefaultGroup("Other"), E_FAIL);
        EXPECT_GE(Clock::now() - before, std::chrono::milliseconds(kListLockWaitMs - 100)) << "waits first";
        EXPECT_EQ(store.CreateUser("refused"), E_FAIL);
        reader.Release();
    }
    EXPECT_EQ(Query("userlist.fdb", "SELECT group_name FROM wl_groups WHERE is_default<>0"), "Default");
    EXPECT_EQ(store.CreateUser("later"), S_OK);
    // Seen by another connection: no transaction is left open around it.
    EXPECT_EQ(Query("userlist.fdb", "SELECT user_name FROM wl_users"), "later");
    EXPECT_EQ(store.SetDefaultGroup("Other"), S_OK);
    EXPECT_EQ(Query("userlist.fdb", "SELECT group_name FROM wl_groups WHERE is_default<>0"), "Other");
}

TEST_F(ListLockTest, ABriefLockIsWaitedFor)
{
    MakeUserList();
    MakeComputerList();
    CSqlLiteUL users(&files, kUserListKeepOpen);
    CSqlLiteCL computers(&files);
    {
        LockHolder writer(Path("userlist.fdb"), kWriteLock, 300);
        ASSERT_TRUE(writer.Locked());
        EXPECT_EQ(users.Load("userlist.fdb"), S_OK);
        EXPECT_EQ(users.CreateUser("alice"), S_OK);
    }
    {
        LockHolder writer(Path("complist.fdb"), kWriteLock, 300);
        ASSERT_TRUE(writer.Locked());
        EXPECT_EQ(computers.LoadComputerList("complist.fdb"), S_OK);
        EXPECT_EQ(computers.AddComputer("PC1"), S_OK);
    }
    {
        LockHolder reader(Path("complist.fdb"), kReadLock, 300);
        ASSERT_TRUE(reader.Locked());
        const BYTE item[] = {1, 2, 3};
        EXPECT_EQ(computers.SetComputerInformation("PC1", 7, 1, item, sizeof item), S_OK);
    }
    EXPECT_EQ(Query("complist.fdb", "SELECT hex(data) FROM cl_sysinfo WHERE app_id=7"), "010203");
    EXPECT_EQ(Query("userlist.fdb", "SELECT user_name FROM wl_users"), "alice");
}

// A load that finds the file locked for longer than the wait fails with
// SQLite's result and says so in the event log; once the lock is gone the
// list works without a restart.
TEST_F(ListLockTest, ALoadThatFindsTheFileLockedRecoversWhenTheLockIsGone)
{
    MakeUserList();
    MakeComputerList();
    CSqlLiteUL users(&files, kUserListKeepOpen);
    CSqlLiteCL computers(&files);
    {
        LockHolder writer(Path("userlist.fdb"), kWriteLock, kLongHoldMs * 2);
        ASSERT_TRUE(writer.Locked());
        EXPECT_EQ(users.Load("userlist.fdb"), SQLITE_BUSY);
        EXPECT_EQ(users.CreateUser("alice"), E_INVALIDARG) << "still locked";
        writer.Release();
    }
    {
        LockHolder writer(Path("complist.fdb"), kWriteLock, kLongHoldMs * 2);
        ASSERT_TRUE(writer.Locked());
        EXPECT_EQ(computers.LoadComputerList("complist.fdb"), SQLITE_BUSY);
        writer.Release();
    }
    const std::string log = EventLogText();
    EXPECT_NE(log.find("The user list " + Path("userlist.fdb") + " does not open: database is locked"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("The computer list " + Path("complist.fdb") + " does not open: database is locked"),
              std::string::npos)
        << log;

    EXPECT_EQ(users.CreateUser("alice"), S_OK);
    EXPECT_EQ(Query("userlist.fdb", "SELECT user_name FROM wl_users"), "alice");
    EXPECT_EQ(users.DatabasePath(), Path("userlist.fdb"));
    EXPECT_EQ(computers.AddComputer("PC1"), S_OK);
    EXPECT_EQ(Query("complist.fdb", "SELECT cpu_name FROM cl_computers"), "PC1");
}

// What a failed load leaves is not retried when the file is no database.
TEST_F(ListLockTest, AFileThatIsNoDatabaseIsNotRetried)
{
    ASSERT_TRUE(tqtest::WriteFileText(Path("userlist.fdb"), std::string(4096, 'x')));
    CSqlLiteUL users(&files, kUserListKeepOpen);
    EXPECT_EQ(users.Load("userlist.fdb"), SQLITE_NOTADB);
    EXPECT_EQ(users.CreateUser("alice"), E_INVALIDARG);
    EXPECT_EQ(tqtest::ReadFileText(Path("userlist.fdb")), std::string(4096, 'x'));
    EXPECT_NE(EventLogText().find("does not open: file is not a database"), std::string::npos);
}

// The computer list's delete of a computer goes as a whole: when the commit
// is refused, nothing of it is gone.
TEST_F(ListLockTest, ComputerDeleteRefusedByAReaderKeepsEverything)
{
    MakeComputerList();
    CSqlLiteCL computers(&files);
    ASSERT_EQ(computers.LoadComputerList("complist.fdb"), S_OK);
    const BYTE item[] = {9};
    ASSERT_EQ(computers.SetComputerInformation("PC1", 7, 1, item, sizeof item), S_OK);
    {
        LockHolder reader(Path("complist.fdb"), kReadLock, kLongHoldMs);
        ASSERT_TRUE(reader.Locked());
        EXPECT_EQ(computers.DeleteComputer("PC1"), E_FAIL);
        reader.Release();
    }
    EXPECT_EQ(Query("complist.fdb", "SELECT cpu_name FROM cl_computers"), "PC1");
    EXPECT_EQ(computers.DeleteComputer("PC1"), S_OK);
    EXPECT_EQ(Query("complist.fdb", "SELECT count(*) FROM cl_computers"), "0");
}

// A damaged file is reported when the list opens; the list still serves
// what it can.
TEST_F(ListLockTest, ADamagedComputerListIsReportedWhenOpened)
{
    {
        CSqlLiteCL store(&files);
        ASSERT_EQ(store.LoadComputerList("complist.fdb"), S_OK);
        const std::string item(3000, 'i');
        for (int i = 0; i < 200; ++i)
            ASSERT_EQ(store.SetComputerInformation(("PC" + std::to_string(i)).c_str(), 7, 1,
                                                   reinterpret_cast<const BYTE*>(item.data()),
                                                   static_cast<int>(item.size())),
                      S_OK);
    }
    EXPECT_EQ(EventLogText(), "");
    {
        std::fstream file(Path("complist.fdb"), std::ios::in | std::ios::out | std::ios::binary);
        file.seekp(4096 * 40);
        const std::string junk(4096, '\x5A');
        file.write(junk.data(), static_cast<std::streamsize>(junk.size()));
    }
    CSqlLiteCL store(&files);
    EXPECT_EQ(store.LoadComputerList("complist.fdb"), S_OK);
    EXPECT_NE(EventLogText().find("The list " + Path("complist.fdb") + " is damaged: "), std::string::npos)
        << EventLogText();
}

} // namespace
