// The database helpers the list stores share.
#include "server/storage/lists/SqlLiteDatabase.h"
#include "server/storage/lists/SqlLiteStatement.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <fstream>

namespace {

class SqlLiteDatabaseLog : public tqtest::StateRootTest {};

// A close while a statement is still open is reported; the connection goes
// with the statement instead of staying for good.
TEST_F(SqlLiteDatabaseLog, CloseWithAStatementOpenIsReported)
{
    tqtest::TempFolder folder;
    sqlite3* db = nullptr;
    ASSERT_EQ(ReopenDatabase(&db, folder / "a.fdb"), SQLITE_OK);
    sqlite3_stmt* open = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db, "SELECT 1", -1, &open, nullptr), SQLITE_OK);
    EXPECT_EQ(CloseDatabase(&db), SQLITE_BUSY);
    EXPECT_EQ(db, nullptr);
    EXPECT_NE(EventLogText().find("a.fdb did not close: database is locked"), std::string::npos) << EventLogText();
    EXPECT_EQ(sqlite3_finalize(open), SQLITE_OK);
    EXPECT_EQ(CloseDatabase(&db), SQLITE_OK) << "nothing to close";
}

TEST_F(SqlLiteDatabaseLog, DamageFoundByTheCheckIsReported)
{
    tqtest::TempFolder folder;
    const std::string path = folder / "d.fdb";
    sqlite3* db = nullptr;
    ASSERT_EQ(ReopenDatabase(&db, path), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db,
                           "PRAGMA page_size=4096; CREATE TABLE t(x); CREATE INDEX ix ON t(x);"
                           "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i+1 FROM n WHERE i<2000) "
                           "INSERT INTO t SELECT randomblob(200) FROM n;",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    EXPECT_TRUE(CheckDatabase(db, path));
    EXPECT_EQ(EventLogText(), "");
    CloseDatabase(&db);
    {
        // Garbage over a page in the middle of the table.
        std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
        file.seekp(4096 * 20);
        const std::string junk(4096, '\xA5');
        file.write(junk.data(), static_cast<std::streamsize>(junk.size()));
    }
    ASSERT_EQ(ReopenDatabase(&db, path), SQLITE_OK);
    EXPECT_FALSE(CheckDatabase(db, path));
    EXPECT_NE(EventLogText().find("d.fdb is damaged: "), std::string::npos) << EventLogText();
    CloseDatabase(&db);
}

TEST(SqlLiteDatabase, CommitOrRollbackLeavesAutocommit)
{
    sqlite3* db = nullptr;
    ASSERT_EQ(ReopenDatabase(&db, ":memory:"), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, "CREATE TABLE t(x UNIQUE) ; BEGIN; INSERT INTO t VALUES(1)", nullptr, nullptr, nullptr),
              SQLITE_OK);
    EXPECT_EQ(CommitOrRollback(db), SQLITE_OK);
    EXPECT_NE(sqlite3_get_autocommit(db), 0);
    // A deferred foreign key that the commit refuses: rolled back.
    ASSERT_EQ(sqlite3_exec(db, "PRAGMA foreign_keys=ON; CREATE TABLE c(p REFERENCES t(x) DEFERRABLE INITIALLY DEFERRED);"
                               "BEGIN; INSERT INTO c VALUES(5)",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    EXPECT_EQ(CommitOrRollback(db) & 0xFF, SQLITE_CONSTRAINT);
    EXPECT_NE(sqlite3_get_autocommit(db), 0);
    {
        CSqlLiteStatement count(db, "SELECT count(*) FROM c");
        ASSERT_EQ(count.Step(), SQLITE_ROW);
        EXPECT_EQ(count.ColumnInt(0), 0);
    }
    EXPECT_EQ(CloseDatabase(&db), SQLITE_OK);
}

TEST(SqlLiteDatabase, ReopenReplacesTheConnectionOrLeavesNone)
{
    tqtest::TempFolder folder;
    sqlite3* db = nullptr;
    ASSERT_EQ(ReopenDatabase(&db, folder / "a.fdb"), SQLITE_OK);
    ASSERT_NE(db, nullptr);
    ASSERT_EQ(sqlite3_exec(db, "CREATE TABLE t (x)", nullptr, nullptr, nullptr), SQLITE_OK);
    bool exists = false;
    EXPECT_EQ(FindTable(db, "t", &exists), SQLITE_OK);
    EXPECT_TRUE(exists);
    EXPECT_EQ(FindTable(db, "u", &exists), SQLITE_OK);
    EXPECT_FALSE(exists);

    ASSERT_EQ(ReopenDatabase(&db, folder / "b.fdb"), SQLITE_OK);
    EXPECT_EQ(FindTable(db, "t", &exists), SQLITE_OK);
    EXPECT_FALSE(exists) << "the second file is the one open";

    EXPECT_EQ(ReopenDatabase(&db, folder / "missing/c.fdb"), SQLITE_CANTOPEN);
    EXPECT_EQ(db, nullptr);
    EXPECT_NE(FindTable(db, "t", &exists), SQLITE_OK);
    EXPECT_FALSE(exists);
    CloseDatabase(&db);
    EXPECT_EQ(db, nullptr);
}

TEST(SqlLiteDatabase, TableLookUpOfAFileThatIsNoDatabaseFails)
{
    tqtest::TempFolder folder;
    ASSERT_TRUE(tqtest::WriteFileText(folder / "junk.fdb", std::string(4096, 'j')));
    sqlite3* db = nullptr;
    ASSERT_EQ(ReopenDatabase(&db, folder / "junk.fdb"), SQLITE_OK); // the open reads nothing yet
    bool exists = true;
    EXPECT_EQ(FindTable(db, "t", &exists), SQLITE_NOTADB);
    EXPECT_FALSE(exists);
    CloseDatabase(&db);
}

TEST(SqlLiteStatement, TextsAreBoundInOrderAndNullAsNull)
{
    sqlite3* db = nullptr;
    ASSERT_EQ(ReopenDatabase(&db, ":memory:"), SQLITE_OK);
    {
        CSqlLiteStatement s(db, "SELECT ? || '|' || ?, ? IS NULL");
        s.BindTexts({"it's", "b", nullptr});
        ASSERT_EQ(s.Step(), SQLITE_ROW);
        EXPECT_EQ(s.ColumnText(0), "it's|b");
        EXPECT_EQ(s.ColumnInt(1), 1);
    }
    EXPECT_EQ(CloseDatabase(&db), SQLITE_OK);
}

} // namespace
