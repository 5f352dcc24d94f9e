#pragma once
// The computer-list operations that the benchmarks time, done directly on a
// computer-list database with SQLite, opened with the same settings as the
// server opens it and running the same statements. Also fills a database
// with many computers and their information items at once.

#include <sqlite3.h>

#include <string>
#include <vector>

namespace tqbench {

class DirectComputerList {
public:
    DirectComputerList() = default;
    ~DirectComputerList();
    DirectComputerList(const DirectComputerList&) = delete;
    DirectComputerList& operator=(const DirectComputerList&) = delete;

    bool Open(const std::string& path);
    // Adds the computers <prefix><first> ..., each with the items (appId, id)
    // of itemKeys holding itemSize bytes, in one transaction.
    bool Fill(const std::string& prefix, int first, int count, const std::vector<std::pair<int, int>>& itemKeys,
              int itemSize);

    // Finds the computer (adding it when missing) and its item, then updates,
    // inserts or deletes the item.
    bool SetComputerInformation(const std::string& computer, int appId, int id, const void* data, int size);
    // Every computer name in table order.
    bool GetCompleteComputerList(std::vector<std::string>* names);

    const char* LastError() const { return db_ != nullptr ? sqlite3_errmsg(db_) : "not open"; }

private:
    bool FindComputer(const std::string& computer, int* cpuId, bool* found);

    sqlite3* db_ = nullptr;
};

} // namespace tqbench
