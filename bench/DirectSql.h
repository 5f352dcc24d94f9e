#pragma once
// Small pieces the direct SQLite baselines share.

#include <sqlite3.h>

#include <memory>
#include <string>
#include <vector>

namespace tqbench {

using DirectStatement = std::unique_ptr<sqlite3_stmt, decltype(&sqlite3_finalize)>;

// Null when the statement does not prepare.
DirectStatement PrepareDirect(sqlite3* db, const char* sql);
void BindDirectText(sqlite3_stmt* stmt, int index, const std::string& text);
// The first column of every row of the statement, as texts; false on an
// SQL error.
bool CollectTexts(sqlite3* db, const char* sql, std::vector<std::string>* texts);
// Opens an existing database for reading and writing; null when it cannot.
sqlite3* OpenDirect(const std::string& path);

// A name of the benchmark's users and computers: prefix and number, the
// number in at least six digits.
std::string NumberedName(const std::string& prefix, int number);

} // namespace tqbench
