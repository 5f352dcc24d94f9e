#include "server/storage/lists/SqliteDatabase.h"

#include "server/storage/lists/SqliteStatement.h"

int ReopenDatabase(sqlite3** db, const std::string& path)
{
    // A second load replaces the connection rather than leaking it.
    CloseDatabase(db);
    sqlite3* opened = nullptr;
    const int rc = sqlite3_open(path.c_str(), &opened);
    if (rc != SQLITE_OK) {
        sqlite3_close(opened);
        return rc;
    }
    *db = opened;
    return SQLITE_OK;
}

void CloseDatabase(sqlite3** db)
{
    sqlite3_close(*db);
    *db = nullptr;
}

int FindTable(sqlite3* db, const char* table, bool* exists)
{
    CSqliteStatement s(db, "SELECT name FROM main.sqlite_master WHERE type='table' AND tbl_name=?");
    s.BindText(1, table);
    const int rc = s.Step();
    *exists = rc == SQLITE_ROW;
    return rc == SQLITE_ROW || rc == SQLITE_DONE ? SQLITE_OK : rc;
}
