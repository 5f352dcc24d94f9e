#pragma once
// The user-list operations that the benchmarks time, done directly on a
// user-list database with SQLite: the same statements the operations need,
// each prepared, run and finalized as a program using SQLite would, without
// any server around them. Also fills a database with many users at once.

#include <sqlite3.h>

#include <string>
#include <vector>

namespace tqbench {

class DirectUserList {
public:
    DirectUserList() = default;
    ~DirectUserList();
    DirectUserList(const DirectUserList&) = delete;
    DirectUserList& operator=(const DirectUserList&) = delete;

    // Opens a database the server made (its tables exist).
    bool Open(const std::string& path);
    // Adds the users <prefix><first> ... in one transaction, to the default group.
    bool Fill(const std::string& prefix, int first, int count);

    // Looks the name up and inserts it when it is missing; false on an SQL error.
    bool CreateUser(const std::string& name);
    // Every user name in name order.
    bool EnumerateUsers(std::vector<std::string>* names);

    const char* LastError() const { return db_ != nullptr ? sqlite3_errmsg(db_) : "not open"; }

private:
    sqlite3* db_ = nullptr;
};

} // namespace tqbench
