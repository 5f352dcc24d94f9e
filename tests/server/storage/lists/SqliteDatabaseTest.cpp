// The database helpers the list stores share.
#include "server/storage/lists/SqliteDatabase.h"
#include "server/storage/lists/SqliteStatement.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

namespace {

TEST(SqliteDatabase, ReopenReplacesTheConnectionOrLeavesNone)
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

TEST(SqliteDatabase, TableLookUpOfAFileThatIsNoDatabaseFails)
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

TEST(SqliteStatement, TextsAreBoundInOrderAndNullAsNull)
{
    sqlite3* db = nullptr;
    ASSERT_EQ(ReopenDatabase(&db, ":memory:"), SQLITE_OK);
    CSqliteStatement s(db, "SELECT ? || '|' || ?, ? IS NULL");
    s.BindTexts({"it's", "b", nullptr});
    ASSERT_EQ(s.Step(), SQLITE_ROW);
    EXPECT_EQ(s.ColumnText(0), "it's|b");
    EXPECT_EQ(s.ColumnInt(1), 1);
    CloseDatabase(&db);
}

} // namespace
