#include "bench/DirectComputerList.h"

#include "bench/DirectSql.h"

namespace tqbench {

namespace {

constexpr const char* kFindComputer = "SELECT cpu_id FROM cl_computers WHERE cpu_name=?";
constexpr const char* kInsertComputer = "INSERT INTO cl_computers VALUES(NULL,?)";
constexpr const char* kFindItem = "SELECT sysinfo_id FROM cl_sysinfo WHERE app_id=? AND id=? AND cpu_id=?";
constexpr const char* kInsertItem = "INSERT INTO cl_sysinfo VALUES(NULL,?,?,?,?)";

} // namespace

DirectComputerList::~DirectComputerList()
{
    sqlite3_close(db_);
}

bool DirectComputerList::Open(const std::string& path)
{
    sqlite3_close(db_);
    db_ = OpenDirect(path);
    if (db_ == nullptr)
        return false;
    sqlite3_exec(db_, "PRAGMA temp_store = MEMORY;", nullptr, nullptr, nullptr);
    sqlite3_exec(db_, "PRAGMA journal_mode=DELETE;", nullptr, nullptr, nullptr);
    return true;
}

bool DirectComputerList::Fill(const std::string& prefix, int first, int count,
                              const std::vector<std::pair<int, int>>& itemKeys, int itemSize)
{
    if (db_ == nullptr || sqlite3_exec(db_, "BEGIN", nullptr, nullptr, nullptr) != SQLITE_OK)
        return false;
    std::vector<unsigned char> data(static_cast<size_t>(itemSize), 0x5A);
    DirectStatement computer = PrepareDirect(db_, kInsertComputer);
    DirectStatement item = PrepareDirect(db_, kInsertItem);
    bool ok = computer != nullptr && item != nullptr;
    for (int i = 0; ok && i < count; ++i) {
        BindDirectText(computer.get(), 1, NumberedName(prefix, first + i));
        ok = sqlite3_step(computer.get()) == SQLITE_DONE;
        sqlite3_reset(computer.get());
        const auto cpuId = static_cast<int>(sqlite3_last_insert_rowid(db_));
        for (const auto& [appId, id] : itemKeys) {
            if (!ok)
                break;
            sqlite3_bind_int(item.get(), 1, cpuId);
            sqlite3_bind_int(item.get(), 2, appId);
            sqlite3_bind_int(item.get(), 3, id);
            sqlite3_bind_blob(item.get(), 4, data.data(), itemSize, SQLITE_STATIC);
            ok = sqlite3_step(item.get()) == SQLITE_DONE;
            sqlite3_reset(item.get());
        }
    }
    computer.reset();
    item.reset();
    return sqlite3_exec(db_, ok ? "COMMIT" : "ROLLBACK", nullptr, nullptr, nullptr) == SQLITE_OK && ok;
}

bool DirectComputerList::FindComputer(const std::string& computer, int* cpuId, bool* found)
{
    DirectStatement find = PrepareDirect(db_, kFindComputer);
    if (find == nullptr)
        return false;
    BindDirectText(find.get(), 1, computer);
    int rc = sqlite3_step(find.get());
    *found = rc == SQLITE_ROW;
    *cpuId = *found ? sqlite3_column_int(find.get(), 0) : 0;
    return rc == SQLITE_ROW || rc == SQLITE_DONE;
}

bool DirectComputerList::SetComputerInformation(const std::string& computer, int appId, int id, const void* data,
                                                int size)
{
    int cpuId = 0;
    bool found = false;
    if (!FindComputer(computer, &cpuId, &found))
        return false;
    if (!found) {
        DirectStatement insert = PrepareDirect(db_, kInsertComputer);
        if (insert == nullptr)
            return false;
        BindDirectText(insert.get(), 1, computer);
        if (sqlite3_step(insert.get()) != SQLITE_DONE || !FindComputer(computer, &cpuId, &found) || !found)
            return false;
    }
    DirectStatement find = PrepareDirect(db_, kFindItem);
    if (find == nullptr)
        return false;
    sqlite3_bind_int(find.get(), 1, appId);
    sqlite3_bind_int(find.get(), 2, id);
    sqlite3_bind_int(find.get(), 3, cpuId);
    const int rc = sqlite3_step(find.get());
    const bool hasData = data != nullptr || size != 0;
    DirectStatement change(nullptr, &sqlite3_finalize);
    if (rc == SQLITE_ROW) {
        const int sysinfoId = sqlite3_column_int(find.get(), 0);
        find.reset();
        change = PrepareDirect(db_, hasData ? "UPDATE cl_sysinfo SET data=? WHERE sysinfo_id = ?"
                                            : "DELETE FROM cl_sysinfo WHERE sysinfo_id=?");
        if (change == nullptr)
            return false;
        if (hasData) {
            sqlite3_bind_blob(change.get(), 1, data, size, SQLITE_TRANSIENT);
            sqlite3_bind_int(change.get(), 2, sysinfoId);
        } else {
            sqlite3_bind_int(change.get(), 1, sysinfoId);
        }
    } else if (rc == SQLITE_DONE && hasData) {
        find.reset();
        change = PrepareDirect(db_, kInsertItem);
        if (change == nullptr)
            return false;
        sqlite3_bind_int(change.get(), 1, cpuId);
        sqlite3_bind_int(change.get(), 2, appId);
        sqlite3_bind_int(change.get(), 3, id);
        sqlite3_bind_blob(change.get(), 4, data, size, SQLITE_TRANSIENT);
    } else {
        return rc == SQLITE_DONE;
    }
    return sqlite3_step(change.get()) == SQLITE_DONE;
}

bool DirectComputerList::GetCompleteComputerList(std::vector<std::string>* names)
{
    return CollectTexts(db_, "SELECT cpu_name FROM cl_computers", names);
}

} // namespace tqbench
