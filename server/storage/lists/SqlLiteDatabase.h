#pragma once
// Opening and closing a list's database file, and what every list does with
// one: wait for another process's lock, commit or roll back, report damage.

#include <sqlite3.h>

#include <functional>
#include <string>

// How long a statement waits for a lock another process holds on the file
// (a backup, the sqlite3 shell) before it fails with SQLITE_BUSY.
constexpr int kListLockWaitMs = 2000;

// Closes *db, then opens path in its place with the lock wait set:
// SQLITE_OK, or the open's error with *db null (what the failed open left is
// closed too).
int ReopenDatabase(sqlite3** db, const std::string& path);

// Closes *db and sets it null. A close that fails (a statement is still
// open) is reported in the event log, and the connection then goes when its
// last statement is finalized. The close's result.
int CloseDatabase(sqlite3** db);

// Opens path as a list (ReopenDatabase) and runs prepare on it (its
// tables): SQLITE_OK, after which the file gets the quick check. On failure
// *db is null, the failure is reported in the event log as the listName's
// when report is set, and *retry is the path when the failure was another
// process's lock (to be tried again), else empty.
int OpenList(sqlite3** db, const std::string& path, const char* listName, bool report,
             const std::function<int()>& prepare, std::string* retry);

// SQLITE_OK with *exists telling whether the database has the table, or the
// query's error.
int FindTable(sqlite3* db, const char* table, bool* exists);

// Whether a failure is another connection's lock, which goes away by itself.
bool IsLockFailure(int rc);

// The quick structural check of an opened list: true when it answers "ok";
// otherwise the damage is reported in the event log under the path.
bool CheckDatabase(sqlite3* db, const std::string& path);

// Ends the transaction that is open: COMMIT, and when that fails ROLLBACK,
// so that the connection is back in autocommit either way. SQLITE_OK, or the
// commit's failure.
int CommitOrRollback(sqlite3* db);

// An error event of the lists in the event log.
void ReportListEvent(const std::string& text);
