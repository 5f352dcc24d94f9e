#pragma once
// The computer list of one virtual server in an SQLite database in its
// storage folder ("complist.fdb"), with the delivery of urgent pending
// operations.
//
// Every operation takes the store's own lock, so the request handlers and the
// delivery work items can share the one connection.

#include "server/shared/FileIO.h"
#include "server/shared/ComputerList.h"
#include "server/storage/lists/PendingOpDelivery.h"

#include <mutex>
#include <sqlite3.h>
#include <string>

class CSqlLiteStatement;

class CSqlLiteCL : public IComputerList2 {
public:
    explicit CSqlLiteCL(IFileIO2* files);
    // Ends the delivery first (waiting for its work items), then closes.
    ~CSqlLiteCL() override;
    CSqlLiteCL(const CSqlLiteCL&) = delete;
    CSqlLiteCL& operator=(const CSqlLiteCL&) = delete;

    HRESULT LoadComputerList(const char* fileName) override;
    HRESULT SaveComputerList(const char* fileName) override;
    HRESULT AddSchemaNode(SchemaNodeRecord* node, LONG* schemaId) override;
    HRESULT GetSchemaNode(DWORD schemaId, SchemaNodeRecord* node) override;
    HRESULT DeleteSchemaNode(DWORD schemaId) override;
    HRESULT Reserved6() override { return E_NOTIMPL; }
    HRESULT Reserved7() override { return E_NOTIMPL; }
    HRESULT Reserved8() override { return E_NOTIMPL; }
    HRESULT Reserved9() override { return E_NOTIMPL; }
    HRESULT GetCompleteSchemaNodeList(BYTE** buffer, int* length) override;
    HRESULT FreeSchemaNodeList(BYTE* buffer) override;
    HRESULT AddComputer(const char* computer) override;
    HRESULT DeleteComputer(const char* computer) override;
    // The enumeration belongs to other computer-list objects, not to this store.
    HRESULT OpenComputerEnum(DWORD*) override { return E_NOTIMPL; }
    HRESULT GetFirstComputer(DWORD, char*, int) override { return E_NOTIMPL; }
    HRESULT GetNextComputer(DWORD, char*, int) override { return E_NOTIMPL; }
    HRESULT CloseComputerEnum(DWORD) override { return E_NOTIMPL; }
    HRESULT GetCompleteComputerList(char** buffer, int* length) override;
    HRESULT FreeComputerList(char* buffer) override;
    HRESULT SetComputerInformation(const char* computer, DWORD appId, DWORD id, const BYTE* data,
                                   int size) override;
    HRESULT GetComputerInformation(const char* computer, DWORD appId, DWORD id, BYTE** data, int* size) override;
    HRESULT FreeComputerInformation(BYTE* data) override;
    HRESULT AddPendingOp(const char* computer, PendingOpRecord* op, int priority, LONG* opId) override;
    HRESULT DeletePendingOp(const char* computer, DWORD opId) override;
    HRESULT UpdatePendingOp(const char* computer, DWORD opId, DWORD status, DWORD result,
                            const char* remarks) override;
    HRESULT ClearAllPendingOps(const char* computer, DWORD statusMask) override;
    HRESULT GetPendingOp(const char* computer, DWORD opId, PendingOpRecord** op) override;
    HRESULT FreePendingOp(PendingOpRecord* op) override;
    HRESULT Reserved29() override { return E_NOTIMPL; }
    HRESULT Reserved30() override { return E_NOTIMPL; }
    HRESULT Reserved31() override { return E_NOTIMPL; }
    HRESULT Reserved32() override { return E_NOTIMPL; }
    HRESULT GetCompletePendingOpsList(const char* computer, DWORD unused, BYTE** buffer, int* length) override;
    HRESULT FreePendingOpsList(BYTE* buffer) override;
    HRESULT AddDowntimeSchedule(const char* computer, DowntimeRecord* schedule, LONG* downId) override;
    HRESULT DeleteDowntimeSchedule(const char* computer, DWORD downId) override;
    HRESULT ClearAllDowntimeSchedules(const char* computer) override;
    HRESULT GetDowntimeSchedule(const char* computer, DWORD downId, DowntimeRecord** schedule) override;
    HRESULT FreeDowntimeSchedule(DowntimeRecord* schedule) override;
    HRESULT Reserved40() override { return E_NOTIMPL; }
    HRESULT Reserved41() override { return E_NOTIMPL; }
    HRESULT Reserved42() override { return E_NOTIMPL; }
    HRESULT Reserved43() override { return E_NOTIMPL; }
    HRESULT GetCompleteDowntimeList(const char* computer, BYTE** buffer, int* length) override;
    HRESULT FreeDowntimeList(BYTE* buffer) override;
    HRESULT GetAllComputerInformation(const char* computer, BYTE** buffer, int* length) override;
    HRESULT Reserved47() override { return E_NOTIMPL; }
    HRESULT Reserved48() override { return E_NOTIMPL; }
    HRESULT Reserved49() override { return E_NOTIMPL; }

    // The database file's full path ("" until a load succeeded).
    std::string DatabasePath();
    CPendingOpDelivery& Delivery() { return delivery_; }

private:
    // SQLITE_OK, with *found telling whether the computer is listed.
    int LookUpComputer(const char* computer, int* cpuId, bool* found);
    // SQLITE_ROW with the item's row id, SQLITE_DONE without the item, or the failure.
    int FindItem(int cpuId, DWORD appId, DWORD id, int* sysinfoId);
    // The computer's id, adding the computer when it is not listed.
    HRESULT EnsureComputer(const char* computer, int* cpuId);
    // SQLITE_OK, or the failure that tells the file is no database or is
    // locked by another process.
    int CreateTables();
    // Opens the file as the list (its tables, the check-in schema node):
    // SQLITE_OK, or the failure, with the store then without a database
    // (reported in the event log when report is set). A file another
    // process holds locked is tried again by the next call.
    int Open(std::string path, bool report);
    // Whether the store has its database, opening a file that was locked.
    bool Ready();
    static void ReadPendingOp(const CSqlLiteStatement& row, PendingOpRecord* op);
    static void ReadDowntime(const CSqlLiteStatement& row, DowntimeRecord* schedule);
    static void FreePendingOpFields(PendingOpRecord* op);

    IFileIO2* files_;
    sqlite3* db_ = nullptr;
    std::string path_;
    std::string pending_; // a file that was locked when it was to be opened
    std::recursive_mutex mutex_;
    CPendingOpDelivery delivery_;
};
