#include "bench/DirectUserList.h"

#include "bench/DirectSql.h"

namespace tqbench {

namespace {

constexpr const char* kFindUser = "SELECT * FROM wl_users WHERE user_name = ?";
constexpr const char* kInsertUser =
    "INSERT INTO wl_users (id,user_name,group_id) VALUES(NULL,?, (SELECT id from wl_groups WHERE is_default <>0))";

} // namespace

DirectUserList::~DirectUserList()
{
    sqlite3_close(db_);
}

bool DirectUserList::Open(const std::string& path)
{
    sqlite3_close(db_);
    db_ = OpenDirect(path);
    return db_ != nullptr;
}

bool DirectUserList::Fill(const std::string& prefix, int first, int count)
{
    if (db_ == nullptr || sqlite3_exec(db_, "BEGIN", nullptr, nullptr, nullptr) != SQLITE_OK)
        return false;
    DirectStatement insert = PrepareDirect(db_, kInsertUser);
    bool ok = insert != nullptr;
    for (int i = 0; ok && i < count; ++i) {
        BindDirectText(insert.get(), 1, NumberedName(prefix, first + i));
        ok = sqlite3_step(insert.get()) == SQLITE_DONE;
        sqlite3_reset(insert.get());
    }
    insert.reset();
    return sqlite3_exec(db_, ok ? "COMMIT" : "ROLLBACK", nullptr, nullptr, nullptr) == SQLITE_OK && ok;
}

bool DirectUserList::CreateUser(const std::string& name)
{
    DirectStatement find = PrepareDirect(db_, kFindUser);
    if (find == nullptr)
        return false;
    BindDirectText(find.get(), 1, name);
    int rc = sqlite3_step(find.get());
    if (rc == SQLITE_ROW)
        return true;
    find.reset();
    if (rc != SQLITE_DONE)
        return false;
    DirectStatement insert = PrepareDirect(db_, kInsertUser);
    if (insert == nullptr)
        return false;
    BindDirectText(insert.get(), 1, name);
    return sqlite3_step(insert.get()) == SQLITE_DONE;
}

bool DirectUserList::EnumerateUsers(std::vector<std::string>* names)
{
    return CollectTexts(db_, "SELECT user_name FROM wl_users ORDER BY user_name", names);
}

} // namespace tqbench
