#include "server/storage/lists/SqlLiteCL.h"

#include "platform/oledate/OleDate.h"
#include "platform/win/DebugOutput.h"
#include "platform/win/StringCompare.h"
#include "server/storage/attributes/AttributeGuard.h"
#include "server/storage/lists/FlatLists.h"
#include "server/storage/lists/SqlLiteDatabase.h"
#include "server/storage/lists/SqlLiteStatement.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string_view>
#include <vector>

namespace {

using Lock = std::lock_guard<std::recursive_mutex>;

constexpr size_t kMaxComputerName = 15;
constexpr const char* kInvalidDateText = "Invalid DateTime";
constexpr const char* kJournalMode = "PRAGMA journal_mode=DELETE";

const char* const kTables[][2] = {
    {"cl_computers", "create table cl_computers (cpu_id integer primary key autoincrement,cpu_name text not null "
                     "collate nocase)"},
    {"cl_sysinfo", "create table cl_sysinfo (sysinfo_id integer primary key autoincrement,cpu_id integer not "
                   "null,app_id integer not null,id integer not null,data blob)"},
    {"cl_schema", "create table cl_schema (schema_id integer primary key autoincrement,type integer not null,app_id "
                  "integer not null,id integer not null,flags int,name text not null collate nocase,description "
                  "text collate nocase)"},
    {"cl_pendingops", "create table cl_pendingops (op_id integer primary key autoincrement,cpu_id integer not "
                      "null,app_id integer not null,id integer not null,status integer not null,result integer "
                      "not null,description text collate nocase,expire_date datetime,data blob,last_update "
                      "datetime,remarks text collate nocase)"},
    {"cl_downtime", "create table cl_downtime (down_id integer primary key autoincrement,cpu_id integer not "
                    "null,status integer not null,start_date datetime not null,expire_date datetime,disable_time "
                    "datetime not null,enable_time datetime not null,recurrence integer not null,recurrence_info "
                    "integer,remarks text collate nocase)"},
};
constexpr const char* kNameIndex = "CREATE INDEX IF NOT EXISTS main.idxcpu_name ON cl_computers (cpu_name COLLATE NOCASE)";
// Every item look-up names the computer, the app id and the id: without this
// index each one reads the whole table. Made for older databases too.
constexpr const char* kItemIndex =
    "CREATE INDEX IF NOT EXISTS main.idxsysinfo_item ON cl_sysinfo (cpu_id, app_id, id)";

bool Printable(char c)
{
    return c >= 0x20 && c <= 0x7E;
}

bool AllPrintable(const char* text)
{
    for (; *text != '\0'; ++text)
        if (!Printable(*text))
            return false;
    return true;
}

bool Empty(const char* text)
{
    return text == nullptr || *text == '\0';
}

// A record's character field: its text up to a NUL, at most size - 1 characters.
std::string FieldText(const char* field, size_t size)
{
    return std::string(field, strnlen(field, size - 1));
}

void CopyToField(char* field, size_t size, const std::string& text)
{
    std::memset(field, 0, size);
    std::memcpy(field, text.data(), std::min(text.size(), size - 1));
}

// A text handed in with its length: up to its first NUL, never past length.
std::string LengthText(const char* text, DWORD length)
{
    if (text == nullptr || length == 0)
        return {};
    return std::string(text, strnlen(text, length));
}

// A stored text as a new NUL-terminated copy; null and 0 for an empty text.
char* CopyText(const std::string& text, DWORD* length)
{
    *length = 0;
    if (text.empty())
        return nullptr;
    char* copy = new char[text.size() + 1];
    std::memcpy(copy, text.c_str(), text.size() + 1);
    *length = static_cast<DWORD>(text.size() + 1);
    return copy;
}

// Downtime dates are stored as text: FILETIME to SYSTEMTIME to OLE date, valid
// only when the date converts back to the same second.
std::string DateText(const FILETIME& ft, bool* valid)
{
    *valid = false;
    SYSTEMTIME st{};
    DATE date = 0;
    SYSTEMTIME back{};
    std::string text;
    if (FileTimeToSystemTime(&ft, &st) && SystemTimeToVariantTime(&st, &date) &&
        VariantTimeToSystemTime(date, &back) && back.wYear == st.wYear && back.wMonth == st.wMonth &&
        back.wDay == st.wDay && back.wHour == st.wHour && back.wMinute == st.wMinute &&
        back.wSecond == st.wSecond && SUCCEEDED(VarBstrFromDate(date, LOCALE_USER_DEFAULT, 0, &text))) {
        *valid = true;
        return text;
    }
    return kInvalidDateText;
}

// A stored date text as a FILETIME; 0 for a text that does not read as a date.
FILETIME FileTimeFromText(const std::string& text)
{
    DATE date = 0;
    SYSTEMTIME st{};
    FILETIME ft{0, 0};
    if (SUCCEEDED(VarDateFromStr(text.c_str(), LOCALE_USER_DEFAULT, 0, &date)) && VariantTimeToSystemTime(date, &st) &&
        SystemTimeToFileTime(&st, &ft))
        return ft;
    return FILETIME{0, 0};
}

std::string NamePart(const char* fileName)
{
    const char* cut = fileName;
    for (const char* p = fileName; *p != '\0'; ++p)
        if (*p == '/' || *p == '\\')
            cut = p + 1;
    return cut;
}

std::string FolderPart(const std::string& path)
{
    auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

HRESULT FreeArray(void* buffer)
{
    if (buffer == nullptr)
        return E_INVALIDARG;
    delete[] static_cast<BYTE*>(buffer);
    return S_OK;
}

// Frees the field copies of records collected for a flat list.
template <class Record, class FreeFields>
struct RecordList {
    std::vector<Record> records;
    FreeFields freeFields;
    ~RecordList()
    {
        for (auto& r : records)
            freeFields(&r);
    }
    template <class T>
    std::vector<const T*> Pointers() const
    {
        std::vector<const T*> out;
        for (const auto& r : records)
            out.push_back(&r);
        return out;
    }
};

} // namespace

CSqlLiteCL::CSqlLiteCL(IFileIO2* files) : files_(files), delivery_(this) {}

CSqlLiteCL::~CSqlLiteCL()
{
    delivery_.Stop();
    Lock lock(mutex_);
    CloseDatabase(&db_);
}

std::string CSqlLiteCL::DatabasePath()
{
    Lock lock(mutex_);
    return path_;
}

int CSqlLiteCL::LookUpComputer(const char* computer, int* cpuId, bool* found)
{
    *found = false;
    *cpuId = 0;
    CSqlLiteStatement s(db_, "SELECT cpu_id FROM cl_computers WHERE cpu_name=?");
    s.BindText(1, computer);
    int rc = s.Step();
    if (rc == SQLITE_ROW) {
        *found = true;
        *cpuId = s.ColumnInt(0) == 0 ? 1 : s.ColumnInt(0);
        return SQLITE_OK;
    }
    return rc == SQLITE_DONE ? SQLITE_OK : rc;
}

HRESULT CSqlLiteCL::EnsureComputer(const char* computer, int* cpuId)
{
    bool found = false;
    if (LookUpComputer(computer, cpuId, &found) != SQLITE_OK)
        return E_FAIL;
    if (found)
        return S_OK;
    HRESULT hr = AddComputer(computer);
    if (FAILED(hr))
        return hr;
    if (LookUpComputer(computer, cpuId, &found) != SQLITE_OK)
        return E_FAIL;
    return found ? S_OK : E_FAIL;
}

int CSqlLiteCL::CreateTables()
{
    // A table or index that cannot be made (a read-only file) leaves the
    // list readable; only another process's lock fails the load.
    auto make = [&](const char* sql) {
        const int rc = sqlite3_exec(db_, sql, nullptr, nullptr, nullptr);
        return IsLockFailure(rc) ? rc : SQLITE_OK;
    };
    for (const auto& [table, create] : kTables) {
        bool exists = false;
        int rc = FindTable(db_, table, &exists);
        if (rc != SQLITE_OK)
            return rc;
        if (exists)
            continue;
        if ((rc = make(create)) != SQLITE_OK)
            return rc;
        if (std::strcmp(table, "cl_computers") == 0 && (rc = make(kNameIndex)) != SQLITE_OK)
            return rc;
    }
    return make(kItemIndex);
}

int CSqlLiteCL::Open(std::string path, bool report)
{
    path_.clear();
    const int rc = OpenList(&db_, path, "computer list", report, [&] {
        sqlite3_exec(db_, "PRAGMA temp_store = MEMORY;", nullptr, nullptr, nullptr);
        // A rollback journal: a kill in the middle of a write leaves the
        // journal, and the next open puts the old pages back. The pragma is
        // finished before the tables are made, or it would hold their commit.
        int step;
        {
            CSqlLiteStatement journal(db_, kJournalMode);
            step = journal.Step();
        }
        return step == SQLITE_ROW ? CreateTables() : step;
    }, &pending_);
    if (rc != SQLITE_OK)
        return rc;
    path_ = path;

    SchemaNodeRecord node{};
    node.type = 0;
    node.id = kItemLastCheckin;
    node.appId = kServerAppId;
    CopyToField(node.name, sizeof node.name, "Last Checkin");
    CopyToField(node.description, sizeof node.description, "Operating system installed on the computer");
    LONG schemaId = 0;
    AddSchemaNode(&node, &schemaId);
    return SQLITE_OK;
}

bool CSqlLiteCL::Ready()
{
    return db_ != nullptr || (!pending_.empty() && Open(pending_, false) == SQLITE_OK);
}

HRESULT CSqlLiteCL::LoadComputerList(const char* fileName)
{
    Lock lock(mutex_);
    if (files_ == nullptr)
        return E_POINTER;
    if (fileName == nullptr)
        return E_INVALIDARG;
    char folder[MAX_PATH] = {};
    files_->GetFolder(folder, sizeof folder);
    const std::string path = std::string(folder) + fileName;

    const int rc = Open(path, true);
    return rc == SQLITE_OK ? S_OK : rc;
}

HRESULT CSqlLiteCL::SaveComputerList(const char* fileName)
{
    Lock lock(mutex_);
    if (!Ready() || fileName == nullptr)
        return E_INVALIDARG;
    // Only the name counts: a client's name cannot reach outside the folder.
    const std::string name = NamePart(fileName);
    if (name.empty())
        return E_INVALIDARG;
    // Changes reach the open file as they are made; saving under its own
    // name has nothing to do.
    if (StrCmpIA(NamePart(path_.c_str()).c_str(), name.c_str()) == 0)
        return S_OK;

    // The online backup gives a consistent copy of the open database; it is
    // written beside the target and renamed over it only when complete.
    const std::string target = FolderPart(path_) + name;
    const std::string partial = target + ".partial";
    sqlite3* copy = nullptr;
    int rc = sqlite3_open(partial.c_str(), &copy);
    if (rc == SQLITE_OK) {
        sqlite3_backup* backup = sqlite3_backup_init(copy, "main", db_, "main");
        if (backup == nullptr) {
            rc = sqlite3_errcode(copy);
        } else {
            rc = sqlite3_backup_step(backup, -1);
            int finish = sqlite3_backup_finish(backup);
            rc = rc == SQLITE_DONE ? finish : rc;
        }
    }
    int closed = sqlite3_close(copy);
    if (rc == SQLITE_OK && closed == SQLITE_OK && std::rename(partial.c_str(), target.c_str()) == 0)
        return S_OK;
    std::remove(partial.c_str());
    return E_FAIL;
}

HRESULT CSqlLiteCL::AddSchemaNode(SchemaNodeRecord* node, LONG* schemaId)
{
    Lock lock(mutex_);
    if (!Ready() || node == nullptr || schemaId == nullptr)
        return E_INVALIDARG;
    const std::string name = FieldText(node->name, sizeof node->name);
    const std::string description = FieldText(node->description, sizeof node->description);
    int found = SQLITE_DONE;
    int id = 0;
    {
        // Finished before the write, whose commit it would otherwise hold back.
        CSqlLiteStatement find(db_, "SELECT schema_id FROM cl_schema WHERE id=? AND app_id=? AND type=?");
        find.BindInt(1, static_cast<int>(node->id)).BindInt(2, static_cast<int>(node->appId));
        find.BindInt(3, static_cast<int>(node->type));
        found = find.Step();
        id = found == SQLITE_ROW ? find.ColumnInt(0) : 0;
    }
    if (found != SQLITE_ROW && found != SQLITE_DONE)
        return E_FAIL;
    if (found == SQLITE_ROW) {
        CSqlLiteStatement update(db_, "UPDATE cl_schema SET name=?,description=?,type=?,flags=? WHERE schema_id=?");
        update.BindText(1, name).BindText(2, description).BindInt(3, static_cast<int>(node->type));
        update.BindInt(4, static_cast<int>(node->flags)).BindInt(5, id);
        if (update.Run() != SQLITE_OK)
            return E_FAIL;
        *schemaId = id;
        return S_OK;
    }
    CSqlLiteStatement insert(db_, "INSERT INTO cl_schema VALUES(NULL,?,?,?,?,?,?)");
    insert.BindInt(1, static_cast<int>(node->type)).BindInt(2, static_cast<int>(node->appId));
    insert.BindInt(3, static_cast<int>(node->id)).BindInt(4, static_cast<int>(node->flags));
    insert.BindText(5, name).BindText(6, description);
    if (insert.Run() != SQLITE_OK)
        return E_FAIL;
    *schemaId = static_cast<LONG>(sqlite3_last_insert_rowid(db_));
    return S_OK;
}

HRESULT CSqlLiteCL::GetSchemaNode(DWORD schemaId, SchemaNodeRecord* node)
{
    Lock lock(mutex_);
    if (!Ready() || node == nullptr)
        return E_INVALIDARG;
    CSqlLiteStatement s(db_, "SELECT type, app_id, id, flags, name, description FROM cl_schema WHERE schema_id = ?");
    s.BindInt(1, static_cast<int>(schemaId));
    if (s.Step() == SQLITE_ROW) {
        node->type = static_cast<DWORD>(s.ColumnInt(0));
        node->appId = static_cast<DWORD>(s.ColumnInt(1));
        node->id = static_cast<DWORD>(s.ColumnInt(2));
        node->flags = static_cast<DWORD>(s.ColumnInt(3));
        CopyToField(node->name, sizeof node->name, s.ColumnText(4));
        CopyToField(node->description, sizeof node->description, s.ColumnText(5));
    }
    node->schemaId = schemaId;
    return S_OK;
}

HRESULT CSqlLiteCL::DeleteSchemaNode(DWORD schemaId)
{
    Lock lock(mutex_);
    if (!Ready())
        return E_INVALIDARG;
    CSqlLiteStatement s(db_, "DELETE FROM cl_schema WHERE schema_id=?");
    s.BindInt(1, static_cast<int>(schemaId));
    return s.Run() == SQLITE_OK ? S_OK : E_FAIL;
}

HRESULT CSqlLiteCL::GetCompleteSchemaNodeList(BYTE** buffer, int* length)
{
    Lock lock(mutex_);
    if (!Ready() || buffer == nullptr || length == nullptr)
        return E_INVALIDARG;
    return attrib::Guarded([&]() -> HRESULT {
        std::vector<SchemaNodeRecord> nodes;
        CSqlLiteStatement s(db_, "SELECT schema_id,type,app_id,id,flags,name,description FROM cl_schema");
        // An error part way keeps the rows read so far.
        while (s.Step() == SQLITE_ROW) {
            SchemaNodeRecord node{};
            node.schemaId = static_cast<DWORD>(s.ColumnInt(0));
            node.type = static_cast<DWORD>(s.ColumnInt(1));
            node.appId = static_cast<DWORD>(s.ColumnInt(2));
            node.id = static_cast<DWORD>(s.ColumnInt(3));
            node.flags = static_cast<DWORD>(s.ColumnInt(4));
            CopyToField(node.name, sizeof node.name, s.ColumnText(5));
            CopyToField(node.description, sizeof node.description, s.ColumnText(6));
            nodes.push_back(node);
        }
        return FlattenSchemaNodeList(nodes, buffer, length);
    });
}

HRESULT CSqlLiteCL::FreeSchemaNodeList(BYTE* buffer)
{
    return FreeArray(buffer);
}

HRESULT CSqlLiteCL::AddComputer(const char* computer)
{
    Lock lock(mutex_);
    if (!Ready() || Empty(computer) || std::strlen(computer) > kMaxComputerName || !AllPrintable(computer))
        return E_INVALIDARG;
    int cpuId = 0;
    bool found = false;
    if (LookUpComputer(computer, &cpuId, &found) != SQLITE_OK)
        return E_FAIL;
    if (found)
        return S_FALSE;
    CSqlLiteStatement s(db_, "INSERT INTO cl_computers VALUES(NULL,?)");
    s.BindText(1, computer);
    return s.Run() == SQLITE_OK ? S_OK : E_FAIL;
}

HRESULT CSqlLiteCL::DeleteComputer(const char* computer)
{
    Lock lock(mutex_);
    if (!Ready() || Empty(computer))
        return E_INVALIDARG;
    int cpuId = 0;
    bool found = false;
    if (LookUpComputer(computer, &cpuId, &found) != SQLITE_OK)
        return E_FAIL;
    if (!found)
        return S_FALSE;
    // The computer and what hangs on it go together, or not at all.
    int rc = sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK)
        return E_FAIL;
    for (const char* sql : {"DELETE FROM cl_computers WHERE cpu_id=?", "DELETE FROM cl_downtime WHERE cpu_id=?",
                            "DELETE FROM cl_pendingops WHERE cpu_id=?"}) {
        CSqlLiteStatement s(db_, sql);
        s.BindInt(1, cpuId);
        if ((rc = s.Run()) != SQLITE_OK)
            break;
    }
    if (rc != SQLITE_OK) {
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        return E_FAIL;
    }
    return CommitOrRollback(db_) == SQLITE_OK ? S_OK : E_FAIL;
}

HRESULT CSqlLiteCL::GetCompleteComputerList(char** buffer, int* length)
{
    Lock lock(mutex_);
    if (!Ready() || buffer == nullptr || length == nullptr)
        return E_INVALIDARG;
    return attrib::Guarded([&]() -> HRESULT {
        // The flat form is written as the rows come, into one array that
        // doubles when full: no name is kept apart first.
        size_t capacity = 4096, used = 0;
        std::unique_ptr<char[]> flat(new char[capacity]);
        auto append = [&](const char* data, size_t size) {
            if (capacity - used < size) {
                const size_t grown = std::max(capacity * 2, used + size);
                if (grown > static_cast<size_t>(INT_MAX))
                    throw std::bad_alloc();
                std::unique_ptr<char[]> bigger(new char[grown]);
                std::memcpy(bigger.get(), flat.get(), used);
                flat = std::move(bigger);
                capacity = grown;
            }
            std::memcpy(flat.get() + used, data, size);
            used += size;
        };
        CSqlLiteStatement s(db_, "SELECT cpu_name FROM cl_computers");
        int rc;
        while ((rc = s.Step()) == SQLITE_ROW) {
            // Each name with its NUL; empty names are left out.
            const std::string_view name = s.ColumnView(0);
            if (!name.empty())
                append(name.data(), name.size() + 1);
        }
        if (rc != SQLITE_DONE)
            return E_FAIL;
        append("", 1);  // the closing NUL
        *buffer = flat.release();
        *length = static_cast<int>(used);
        return S_OK;
    });
}

HRESULT CSqlLiteCL::FreeComputerList(char* buffer)
{
    return FreeArray(buffer);
}

int CSqlLiteCL::FindItem(int cpuId, DWORD appId, DWORD id, int* sysinfoId)
{
    // Read and finished here: a statement still reading when the write runs
    // would hold its commit back until it is finalized, where a failed
    // commit goes unseen.
    CSqlLiteStatement find(db_, "SELECT sysinfo_id FROM cl_sysinfo WHERE app_id=? AND id=? AND cpu_id=?");
    find.BindInt(1, static_cast<int>(appId)).BindInt(2, static_cast<int>(id)).BindInt(3, cpuId);
    const int rc = find.Step();
    *sysinfoId = rc == SQLITE_ROW ? find.ColumnInt(0) : 0;
    return rc;
}

HRESULT CSqlLiteCL::SetComputerInformation(const char* computer, DWORD appId, DWORD id, const BYTE* data, int size)
{
    Lock lock(mutex_);
    if (!Ready() || Empty(computer) || !AllPrintable(computer) || size < 0)
        return E_INVALIDARG;
    int cpuId = 0;
    HRESULT hr = EnsureComputer(computer, &cpuId);
    if (FAILED(hr))
        return hr;
    const bool hasData = data != nullptr || size != 0;
    int sysinfoId = 0;
    int rc = FindItem(cpuId, appId, id, &sysinfoId);
    if (rc != SQLITE_ROW && rc != SQLITE_DONE)
        return E_FAIL; // not knowing whether the item is there, a second one could be added
    if (rc == SQLITE_ROW) {
        if (hasData) {
            CSqlLiteStatement s(db_, "UPDATE cl_sysinfo SET data=? WHERE sysinfo_id = ?");
            rc = s.BindBlob(1, data, size).BindInt(2, sysinfoId).Run();
        } else {
            CSqlLiteStatement s(db_, "DELETE FROM cl_sysinfo WHERE sysinfo_id=?");
            rc = s.BindInt(1, sysinfoId).Run();
        }
    } else if (hasData) {
        CSqlLiteStatement s(db_, "INSERT INTO cl_sysinfo VALUES(NULL,?,?,?,?)");
        s.BindInt(1, cpuId).BindInt(2, static_cast<int>(appId)).BindInt(3, static_cast<int>(id));
        rc = s.BindBlob(4, data, size).Run();
    } else {
        rc = SQLITE_OK;
    }
    return rc == SQLITE_OK ? S_OK : E_FAIL;
}

HRESULT CSqlLiteCL::GetComputerInformation(const char* computer, DWORD appId, DWORD id, BYTE** data, int* size)
{
    if (data == nullptr || size == nullptr)
        return E_INVALIDARG;
    *data = nullptr;
    *size = 0;
    Lock lock(mutex_);
    if (!Ready() || Empty(computer))
        return E_INVALIDARG;
    try {
        CSqlLiteStatement s(db_, "SELECT s.data FROM cl_sysinfo s INNER JOIN cl_computers c on c.cpu_id=s.cpu_id "
                                "WHERE c.cpu_name=? AND s.app_id=? AND s.id=?");
        s.BindText(1, computer).BindInt(2, static_cast<int>(appId)).BindInt(3, static_cast<int>(id));
        if (s.Step() == SQLITE_ROW && s.ColumnBytes(0) > 0) {
            const int n = s.ColumnBytes(0);
            *data = new BYTE[n];
            std::memcpy(*data, s.ColumnBlob(0), n);
            *size = n;
            return S_OK;
        }
        static const char kNoItem[] = "DBError";
        *data = new BYTE[sizeof kNoItem];
        std::memcpy(*data, kNoItem, sizeof kNoItem);
        *size = sizeof kNoItem;
        return S_FALSE;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

HRESULT CSqlLiteCL::FreeComputerInformation(BYTE* data)
{
    return FreeArray(data);
}

HRESULT CSqlLiteCL::AddPendingOp(const char* computer, PendingOpRecord* op, int priority, LONG* opId)
{
    {
        Lock lock(mutex_);
        if (!Ready() || Empty(computer) || op == nullptr || opId == nullptr)
            return E_INVALIDARG;
        int cpuId = 0;
        HRESULT hr = EnsureComputer(computer, &cpuId);
        if (FAILED(hr))
            return hr;
        op->status = kPendingOpWaiting;
        const std::string description = LengthText(op->description, op->descriptionLength);
        const std::string remarks = LengthText(op->remarks, op->remarksLength);
        CSqlLiteStatement s(db_, "INSERT INTO cl_pendingops (cpu_id,app_id,id,status,result,description,data,"
                                "last_update,remarks) VALUES(?,?,?,?,?,?,?,datetime('now'),?)");
        s.BindInt(1, cpuId).BindInt(2, static_cast<int>(op->appId)).BindInt(3, static_cast<int>(op->id));
        s.BindInt(4, static_cast<int>(op->status)).BindInt(5, op->result).BindText(6, description);
        s.BindBlob(7, op->data, static_cast<int>(op->dataSize)).BindText(8, remarks);
        if (s.Run() != SQLITE_OK)
            return E_FAIL;
        op->opId = static_cast<DWORD>(sqlite3_last_insert_rowid(db_));
        *opId = static_cast<LONG>(op->opId);
    }
    // Outside the store's lock: a work item holds the queue's lock while it
    // writes into the store, so taking them the other way round could deadlock.
    if (priority != 0)
        delivery_.Enqueue(computer, op->opId, op->appId, priority);
    return S_OK;
}

HRESULT CSqlLiteCL::DeletePendingOp(const char*, DWORD opId)
{
    Lock lock(mutex_);
    if (!Ready())
        return E_INVALIDARG;
    CSqlLiteStatement s(db_, "DELETE FROM cl_pendingops WHERE op_id=?");
    return s.BindInt(1, static_cast<int>(opId)).Run() == SQLITE_OK ? S_OK : E_FAIL;
}

HRESULT CSqlLiteCL::UpdatePendingOp(const char*, DWORD opId, DWORD status, DWORD result, const char* remarks)
{
    Lock lock(mutex_);
    if (!Ready())
        return E_INVALIDARG;
    CSqlLiteStatement s(db_, "UPDATE cl_pendingops SET status=?,result=?,remarks=?,last_update=datetime('now') "
                            "WHERE op_id=?");
    s.BindInt(1, static_cast<int>(status)).BindInt(2, static_cast<int>(result));
    s.BindText(3, remarks == nullptr ? "" : remarks).BindInt(4, static_cast<int>(opId));
    return s.Run() == SQLITE_OK ? S_OK : E_UNEXPECTED;
}

HRESULT CSqlLiteCL::ClearAllPendingOps(const char* computer, DWORD statusMask)
{
    Lock lock(mutex_);
    if (!Ready() || Empty(computer))
        return E_INVALIDARG;
    int cpuId = 0;
    bool found = false;
    if (LookUpComputer(computer, &cpuId, &found) != SQLITE_OK)
        return E_UNEXPECTED;
    if (!found)
        return E_INVALIDARG;
    CSqlLiteStatement s(db_, "DELETE FROM cl_pendingops WHERE (cpu_id=?) AND (status&?)");
    s.BindInt(1, cpuId).BindInt(2, static_cast<int>(statusMask));
    return s.Run() == SQLITE_OK ? S_OK : E_UNEXPECTED;
}

void CSqlLiteCL::ReadPendingOp(const CSqlLiteStatement& row, PendingOpRecord* op)
{
    op->appId = static_cast<DWORD>(row.ColumnInt(0));
    op->id = static_cast<DWORD>(row.ColumnInt(1));
    op->status = static_cast<DWORD>(row.ColumnInt(2));
    op->result = row.ColumnInt(3);
    op->description = CopyText(row.ColumnText(4), &op->descriptionLength);
    const int n = row.ColumnBytes(5);
    if (n > 0) {
        op->data = new BYTE[n];
        std::memcpy(op->data, row.ColumnBlob(5), n);
        op->dataSize = static_cast<DWORD>(n);
    }
    const std::string lastUpdate = row.ColumnText(6);
    if (!lastUpdate.empty())
        op->lastUpdate = FileTimeFromText(lastUpdate);
    op->remarks = CopyText(row.ColumnText(7), &op->remarksLength);
}

void CSqlLiteCL::FreePendingOpFields(PendingOpRecord* op)
{
    delete[] op->description;
    delete[] op->remarks;
    delete[] op->data;
    op->description = op->remarks = nullptr;
    op->data = nullptr;
}

HRESULT CSqlLiteCL::GetPendingOp(const char*, DWORD opId, PendingOpRecord** op)
{
    if (op == nullptr)
        return E_INVALIDARG;
    // Handed out at once, also when the call fails; the caller frees it.
    *op = new PendingOpRecord{};
    Lock lock(mutex_);
    if (!Ready())
        return E_INVALIDARG;
    CSqlLiteStatement s(
        db_, "SELECT app_id,id,status,result,description,data,last_update,remarks FROM cl_pendingops WHERE op_id=?");
    s.BindInt(1, static_cast<int>(opId));
    OutputDebugStringA(s.ExpandedSql().c_str());
    const int rc = s.Step();
    if (rc != SQLITE_ROW) {
        char text[128];
        std::snprintf(text, sizeof text,
                      "Sqlite step did not return SQLITE_ROW in GetPending Op, instead returned %d\n", rc);
        OutputDebugStringA(text);
        return E_INVALIDARG;
    }
    ReadPendingOp(s, *op);
    return S_OK;
}

HRESULT CSqlLiteCL::FreePendingOp(PendingOpRecord* op)
{
    if (op == nullptr)
        return E_INVALIDARG;
    FreePendingOpFields(op);
    delete op;
    return S_OK;
}

HRESULT CSqlLiteCL::GetCompletePendingOpsList(const char* computer, DWORD, BYTE** buffer, int* length)
{
    Lock lock(mutex_);
    if (!Ready() || Empty(computer) || buffer == nullptr || length == nullptr)
        return E_INVALIDARG;
    int cpuId = 0;
    bool found = false;
    LookUpComputer(computer, &cpuId, &found);
    if (!found)
        return E_INVALIDARG;
    return attrib::Guarded([&]() -> HRESULT {
        RecordList<PendingOpRecord, void (*)(PendingOpRecord*)> ops{{}, FreePendingOpFields};
        CSqlLiteStatement s(db_, "SELECT app_id,id,status,result,description,data,last_update,remarks,op_id FROM "
                                "cl_pendingops WHERE cpu_id=?");
        s.BindInt(1, cpuId);
        while (s.Step() == SQLITE_ROW) {
            ops.records.emplace_back();
            ReadPendingOp(s, &ops.records.back());
            ops.records.back().opId = static_cast<DWORD>(s.ColumnInt(8));
        }
        return FlattenPendingOpList(ops.Pointers<PendingOpRecord>(), buffer, length);
    });
}

HRESULT CSqlLiteCL::FreePendingOpsList(BYTE* buffer)
{
    return FreeArray(buffer);
}

HRESULT CSqlLiteCL::AddDowntimeSchedule(const char* computer, DowntimeRecord* schedule, LONG* downId)
{
    Lock lock(mutex_);
    if (!Ready() || Empty(computer) || schedule == nullptr || downId == nullptr)
        return E_INVALIDARG;
    int cpuId = 0;
    HRESULT hr = EnsureComputer(computer, &cpuId);
    if (FAILED(hr))
        return hr;
    bool valid = false;
    const std::string start = DateText(schedule->startDate, &valid);
    std::string expire = DateText(schedule->expireDate, &valid);
    if (!valid)
        expire.clear();
    const std::string disable = DateText(schedule->disableTime, &valid);
    const std::string enable = DateText(schedule->enableTime, &valid);
    CSqlLiteStatement s(db_, "INSERT INTO cl_downtime (cpu_id,status,start_date,expire_date,disable_time,"
                            "enable_time,recurrence,recurrence_info,remarks) VALUES (?,?,?,?,?,?,?,?,?)");
    s.BindInt(1, cpuId).BindInt(2, static_cast<int>(schedule->status)).BindText(3, start).BindText(4, expire);
    s.BindText(5, disable).BindText(6, enable).BindInt(7, static_cast<int>(schedule->recurrence));
    s.BindInt(8, static_cast<int>(schedule->recurrenceInfo));
    s.BindText(9, schedule->remarks == nullptr ? "" : schedule->remarks);
    if (s.Run() != SQLITE_OK)
        return E_FAIL;
    schedule->downId = static_cast<DWORD>(sqlite3_last_insert_rowid(db_));
    *downId = static_cast<LONG>(schedule->downId);
    return S_OK;
}

HRESULT CSqlLiteCL::DeleteDowntimeSchedule(const char*, DWORD downId)
{
    Lock lock(mutex_);
    if (!Ready())
        return E_INVALIDARG;
    CSqlLiteStatement s(db_, "DELETE FROM cl_downtime WHERE down_id=?");
    return s.BindInt(1, static_cast<int>(downId)).Run() == SQLITE_OK ? S_OK : E_FAIL;
}

HRESULT CSqlLiteCL::ClearAllDowntimeSchedules(const char* computer)
{
    Lock lock(mutex_);
    if (!Ready() || Empty(computer))
        return E_INVALIDARG;
    CSqlLiteStatement s(db_, "DELETE FROM cl_downtime WHERE cpu_id=(SELECT cpu_id FROM cl_computers WHERE "
                            "cpu_name=?)");
    return s.BindText(1, computer).Run() == SQLITE_OK ? S_OK : E_FAIL;
}

void CSqlLiteCL::ReadDowntime(const CSqlLiteStatement& row, DowntimeRecord* schedule)
{
    schedule->status = static_cast<DWORD>(row.ColumnInt(0));
    schedule->startDate = FileTimeFromText(row.ColumnText(1));
    schedule->expireDate = FileTimeFromText(row.ColumnText(2));
    schedule->disableTime = FileTimeFromText(row.ColumnText(3));
    schedule->enableTime = FileTimeFromText(row.ColumnText(4));
    schedule->recurrence = static_cast<DWORD>(row.ColumnInt(5));
    schedule->recurrenceInfo = static_cast<DWORD>(row.ColumnInt(6));
    schedule->remarks = CopyText(row.ColumnText(7), &schedule->remarksLength);
}

HRESULT CSqlLiteCL::GetDowntimeSchedule(const char*, DWORD downId, DowntimeRecord** schedule)
{
    Lock lock(mutex_);
    if (!Ready() || schedule == nullptr)
        return E_INVALIDARG;
    try {
        auto record = std::make_unique<DowntimeRecord>();
        CSqlLiteStatement s(db_, "SELECT status,start_date,expire_date,disable_time,enable_time,recurrence,"
                                "recurrence_info,remarks FROM cl_downtime WHERE down_id=?");
        s.BindInt(1, static_cast<int>(downId));
        const int rc = s.Step();
        if (rc != SQLITE_ROW && rc != SQLITE_DONE)
            return E_FAIL;
        if (rc == SQLITE_ROW)
            ReadDowntime(s, record.get());
        record->downId = downId;
        *schedule = record.release();
        return S_OK;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

HRESULT CSqlLiteCL::FreeDowntimeSchedule(DowntimeRecord* schedule)
{
    if (schedule == nullptr)
        return E_INVALIDARG;
    delete[] schedule->remarks;
    delete schedule;
    return S_OK;
}

HRESULT CSqlLiteCL::GetCompleteDowntimeList(const char* computer, BYTE** buffer, int* length)
{
    Lock lock(mutex_);
    if (!Ready() || Empty(computer) || buffer == nullptr || length == nullptr)
        return E_INVALIDARG;
    int cpuId = 0;
    bool found = false;
    if (LookUpComputer(computer, &cpuId, &found) != SQLITE_OK)
        return E_FAIL;
    if (!found)
        return E_INVALIDARG;
    return attrib::Guarded([&]() -> HRESULT {
        auto freeRemarks = [](DowntimeRecord* d) {
            delete[] d->remarks;
            d->remarks = nullptr;
        };
        RecordList<DowntimeRecord, void (*)(DowntimeRecord*)> schedules{{}, freeRemarks};
        CSqlLiteStatement s(db_, "SELECT status,start_date,expire_date,disable_time,enable_time,recurrence,"
                                "recurrence_info,remarks,down_id FROM cl_downtime WHERE cpu_id=?");
        s.BindInt(1, cpuId);
        int rc;
        while ((rc = s.Step()) == SQLITE_ROW) {
            schedules.records.emplace_back();
            ReadDowntime(s, &schedules.records.back());
            schedules.records.back().downId = static_cast<DWORD>(s.ColumnInt(8));
        }
        if (rc != SQLITE_DONE)
            return E_FAIL;
        return FlattenDowntimeList(schedules.Pointers<DowntimeRecord>(), buffer, length);
    });
}

HRESULT CSqlLiteCL::FreeDowntimeList(BYTE* buffer)
{
    delete[] buffer;
    return S_OK;
}

HRESULT CSqlLiteCL::GetAllComputerInformation(const char* computer, BYTE** buffer, int* length)
{
    Lock lock(mutex_);
    if (!Ready() || computer == nullptr || buffer == nullptr || length == nullptr)
        return E_INVALIDARG;
    return attrib::Guarded([&]() -> HRESULT {
        std::vector<ComputerInfoEntry> computers;
        if (*computer != '\0') {
            // Each item is keyed by its row id, the key the query reads.
            std::vector<ComputerInfoItem> items;
            CSqlLiteStatement s(db_, "SELECT s.sysinfo_id, s.data FROM cl_sysinfo s INNER JOIN cl_computers c on "
                                    "c.cpu_id=s.cpu_id WHERE c.cpu_name=?");
            s.BindText(1, computer);
            int rc;
            while ((rc = s.Step()) == SQLITE_ROW) {
                const auto* bytes = static_cast<const BYTE*>(s.ColumnBlob(1));
                items.push_back(ComputerInfoItem{static_cast<DWORD>(s.ColumnInt(0)),
                                                 std::vector<BYTE>(bytes, bytes + s.ColumnBytes(1))});
            }
            if (rc == SQLITE_DONE)
                computers.emplace_back(computer, std::move(items));
        }
        return FlattenComputerInfoList(computers, buffer, length);
    });
}

HRESULT CreateComputerListStore(IComputerList2** out, IFileIO2* files)
{
    if (out == nullptr)
        return E_POINTER;
    return attrib::Guarded([&]() -> HRESULT {
        *out = new CSqlLiteCL(files);
        return S_OK;
    });
}

HRESULT ReleaseComputerListStore(IComputerList2* store)
{
    delete store;
    return S_OK;
}
