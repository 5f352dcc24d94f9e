#include "bench/DirectSql.h"

#include <cstdio>

namespace tqbench {

DirectStatement PrepareDirect(sqlite3* db, const char* sql)
{
    sqlite3_stmt* stmt = nullptr;
    if (db == nullptr || sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr) != SQLITE_OK)
        stmt = nullptr;
    return DirectStatement(stmt, &sqlite3_finalize);
}

void BindDirectText(sqlite3_stmt* stmt, int index, const std::string& text)
{
    sqlite3_bind_text(stmt, index, text.c_str(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
}

bool CollectTexts(sqlite3* db, const char* sql, std::vector<std::string>* texts)
{
    texts->clear();
    DirectStatement select = PrepareDirect(db, sql);
    if (select == nullptr)
        return false;
    int rc;
    while ((rc = sqlite3_step(select.get())) == SQLITE_ROW) {
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(select.get(), 0));
        texts->emplace_back(text != nullptr ? text : "", static_cast<size_t>(sqlite3_column_bytes(select.get(), 0)));
    }
    return rc == SQLITE_DONE;
}

sqlite3* OpenDirect(const std::string& path)
{
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        return nullptr;
    }
    return db;
}

std::string NumberedName(const std::string& prefix, int number)
{
    char digits[16];
    std::snprintf(digits, sizeof digits, "%06d", number);
    return prefix + digits;
}

} // namespace tqbench
