#include "server/storage/lists/SqlLiteDatabase.h"

#include "platform/eventlog/EventLog.h"
#include "server/storage/lists/SqlLiteStatement.h"

namespace {

// The message-table entry that shows its one insertion string as it is.
constexpr DWORD kMessageAsLogged = 0x69200002u;

} // namespace

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
    sqlite3_busy_timeout(opened, kListLockWaitMs);
    *db = opened;
    return SQLITE_OK;
}

int CloseDatabase(sqlite3** db)
{
    if (*db == nullptr)
        return SQLITE_OK;
    const char* file = sqlite3_db_filename(*db, "main");
    const std::string path = file != nullptr ? file : "";
    const int rc = sqlite3_close(*db);
    if (rc != SQLITE_OK) {
        // A statement still open keeps the connection; it is released with
        // the statement's finalization rather than never.
        ReportListEvent("The list " + (path.empty() ? std::string("in memory") : path) +
                        " did not close: " + sqlite3_errstr(rc));
        sqlite3_close_v2(*db);
    }
    *db = nullptr;
    return rc;
}

int OpenList(sqlite3** db, const std::string& path, const char* listName, bool report,
             const std::function<int()>& prepare, std::string* retry)
{
    int rc = ReopenDatabase(db, path);
    if (rc == SQLITE_OK && (rc = prepare()) != SQLITE_OK)
        CloseDatabase(db); // not a database, or one that cannot be written: the file stays as it is
    // Another process's lock goes away: the next call tries again.
    *retry = rc != SQLITE_OK && IsLockFailure(rc) ? path : std::string();
    if (rc != SQLITE_OK) {
        if (report)
            ReportListEvent("The " + std::string(listName) + " " + path + " does not open: " + sqlite3_errstr(rc));
        return rc;
    }
    CheckDatabase(*db, path);
    return SQLITE_OK;
}

int FindTable(sqlite3* db, const char* table, bool* exists)
{
    CSqlLiteStatement s(db, "SELECT name FROM main.sqlite_master WHERE type='table' AND tbl_name=?");
    s.BindText(1, table);
    const int rc = s.Step();
    *exists = rc == SQLITE_ROW;
    return rc == SQLITE_ROW || rc == SQLITE_DONE ? SQLITE_OK : rc;
}

bool IsLockFailure(int rc)
{
    const int primary = rc & 0xFF;
    return primary == SQLITE_BUSY || primary == SQLITE_LOCKED;
}

bool CheckDatabase(sqlite3* db, const std::string& path)
{
    CSqlLiteStatement s(db, "PRAGMA quick_check");
    std::string answer;
    int rc;
    while ((rc = s.Step()) == SQLITE_ROW) {
        if (!answer.empty())
            answer += "; ";
        answer += s.ColumnText(0);
    }
    if (rc == SQLITE_DONE && answer == "ok")
        return true;
    if (rc != SQLITE_DONE)
        answer += (answer.empty() ? "" : "; ") + std::string(sqlite3_errstr(rc));
    ReportListEvent("The list " + path + " is damaged: " + answer);
    return false;
}

int CommitOrRollback(sqlite3* db)
{
    const int rc = sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK && !sqlite3_get_autocommit(db))
        sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    return rc;
}

void ReportListEvent(const std::string& text)
{
    HEVENTLOG source = RegisterEventSourceA(nullptr, "TQRT");
    if (source == nullptr)
        return;
    const char* strings[1] = {text.c_str()};
    ReportEventA(source, EVENTLOG_ERROR_TYPE, 0, kMessageAsLogged, nullptr, 1, 0, strings, nullptr);
    DeregisterEventSource(source);
}
