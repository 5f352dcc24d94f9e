#pragma once
// Opening a list's database file and looking at its tables.

#include <sqlite3.h>

#include <string>

// Closes *db, then opens path in its place: SQLITE_OK, or the open's error
// with *db null (what the failed open left is closed too).
int ReopenDatabase(sqlite3** db, const std::string& path);

// Closes *db and sets it null.
void CloseDatabase(sqlite3** db);

// SQLITE_OK with *exists telling whether the database has the table, or the
// query's error.
int FindTable(sqlite3* db, const char* table, bool* exists);
