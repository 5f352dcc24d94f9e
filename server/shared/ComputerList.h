#pragma once
// The computer-list store of one virtual server: known computers, their
// information items, the schema that names those items, operations waiting
// for a computer (pending operations) and downtime schedules.
//
// The three records are also the wire images that clients send and receive,
// so every offset and size is fixed. Their pointer slots carry nothing on the
// wire: a receiver fills them from separate call items.

#include "platform/win/Time.h"
#include "platform/win/WinTypes.h"

#include <bit>
#include <cstddef>

static_assert(std::endian::native == std::endian::little, "the records are little-endian wire images");
static_assert(sizeof(void*) == 8, "the records hold 8-byte pointer slots");

struct SchemaNodeRecord {
    DWORD type;
    DWORD schemaId;
    DWORD id;
    DWORD appId;
    DWORD flags;
    char name[50];         // NUL-terminated
    char description[300]; // NUL-terminated
    BYTE padding[2];
};
static_assert(sizeof(SchemaNodeRecord) == 372);
static_assert(offsetof(SchemaNodeRecord, name) == 20 && offsetof(SchemaNodeRecord, description) == 70);

struct PendingOpRecord {
    DWORD opId;
    DWORD appId;
    DWORD id;           // the operation's code within its app
    BYTE reserved[12];  // not stored; zero in every record the store hands out
    BYTE* data;
    DWORD dataSize;
    DWORD padding0;
    char* description;       // NUL-terminated
    DWORD descriptionLength; // with the NUL; 0 when absent
    DWORD status;
    HRESULT result;
    FILETIME lastUpdate; // UTC
    DWORD padding1;
    char* remarks;       // NUL-terminated
    DWORD remarksLength; // with the NUL; 0 when absent
    DWORD padding2;
};
static_assert(sizeof(PendingOpRecord) == 88);
static_assert(offsetof(PendingOpRecord, data) == 24 && offsetof(PendingOpRecord, description) == 40 &&
              offsetof(PendingOpRecord, status) == 52 && offsetof(PendingOpRecord, lastUpdate) == 60 &&
              offsetof(PendingOpRecord, remarks) == 72 && offsetof(PendingOpRecord, remarksLength) == 80);

struct DowntimeRecord {
    DWORD downId;
    DWORD status;
    FILETIME startDate;
    FILETIME expireDate;
    FILETIME disableTime;
    FILETIME enableTime;
    DWORD recurrence;
    DWORD recurrenceInfo;
    char* remarks;       // NUL-terminated, or null
    DWORD remarksLength; // with the NUL; 0 when absent
    DWORD padding;
};
static_assert(sizeof(DowntimeRecord) == 64);
static_assert(offsetof(DowntimeRecord, recurrence) == 40 && offsetof(DowntimeRecord, remarks) == 48);

// Status bit of a pending operation that waits for its computer.
constexpr DWORD kPendingOpWaiting = 1;

// The information items the server itself reads or writes, as (app id, id).
constexpr DWORD kServerAppId = 4;
constexpr DWORD kItemNetworkAddress = 4; // read for delivery
constexpr DWORD kItemComputerId = 7;     // the caller GUID text of the computer
constexpr DWORD kItemLastCheckin = 9;    // written at each check-in

// Every operation answers an HRESULT. Slot order is fixed: other components
// reach this interface by position. Buffers and records handed out are given
// back to the matching Free operation.
class IComputerList {
public:
    virtual ~IComputerList() = default;
    virtual HRESULT LoadComputerList(const char* fileName) = 0;
    virtual HRESULT SaveComputerList(const char* fileName) = 0;
    virtual HRESULT AddSchemaNode(SchemaNodeRecord* node, LONG* schemaId) = 0;
    virtual HRESULT GetSchemaNode(DWORD schemaId, SchemaNodeRecord* node) = 0;
    virtual HRESULT DeleteSchemaNode(DWORD schemaId) = 0;
    virtual HRESULT Reserved6() = 0;
    virtual HRESULT Reserved7() = 0;
    virtual HRESULT Reserved8() = 0;
    virtual HRESULT Reserved9() = 0;
    virtual HRESULT GetCompleteSchemaNodeList(BYTE** buffer, int* length) = 0;
    virtual HRESULT FreeSchemaNodeList(BYTE* buffer) = 0;
    virtual HRESULT AddComputer(const char* computer) = 0;
    virtual HRESULT DeleteComputer(const char* computer) = 0;
    virtual HRESULT OpenComputerEnum(DWORD* handle) = 0;
    virtual HRESULT GetFirstComputer(DWORD handle, char* name, int size) = 0;
    virtual HRESULT GetNextComputer(DWORD handle, char* name, int size) = 0;
    virtual HRESULT CloseComputerEnum(DWORD handle) = 0;
    virtual HRESULT GetCompleteComputerList(char** buffer, int* length) = 0;
    virtual HRESULT FreeComputerList(char* buffer) = 0;
    virtual HRESULT SetComputerInformation(const char* computer, DWORD appId, DWORD id, const BYTE* data,
                                           int size) = 0;
    virtual HRESULT GetComputerInformation(const char* computer, DWORD appId, DWORD id, BYTE** data, int* size) = 0;
    virtual HRESULT FreeComputerInformation(BYTE* data) = 0;
    virtual HRESULT AddPendingOp(const char* computer, PendingOpRecord* op, int priority, LONG* opId) = 0;
    virtual HRESULT DeletePendingOp(const char* computer, DWORD opId) = 0;
    virtual HRESULT UpdatePendingOp(const char* computer, DWORD opId, DWORD status, DWORD result,
                                    const char* remarks) = 0;
    virtual HRESULT ClearAllPendingOps(const char* computer, DWORD statusMask) = 0;
    virtual HRESULT GetPendingOp(const char* computer, DWORD opId, PendingOpRecord** op) = 0;
    virtual HRESULT FreePendingOp(PendingOpRecord* op) = 0;
    virtual HRESULT Reserved29() = 0;
    virtual HRESULT Reserved30() = 0;
    virtual HRESULT Reserved31() = 0;
    virtual HRESULT Reserved32() = 0;
    virtual HRESULT GetCompletePendingOpsList(const char* computer, DWORD unused, BYTE** buffer, int* length) = 0;
    virtual HRESULT FreePendingOpsList(BYTE* buffer) = 0;
    virtual HRESULT AddDowntimeSchedule(const char* computer, DowntimeRecord* schedule, LONG* downId) = 0;
    virtual HRESULT DeleteDowntimeSchedule(const char* computer, DWORD downId) = 0;
    virtual HRESULT ClearAllDowntimeSchedules(const char* computer) = 0;
    virtual HRESULT GetDowntimeSchedule(const char* computer, DWORD downId, DowntimeRecord** schedule) = 0;
    virtual HRESULT FreeDowntimeSchedule(DowntimeRecord* schedule) = 0;
    virtual HRESULT Reserved40() = 0;
    virtual HRESULT Reserved41() = 0;
    virtual HRESULT Reserved42() = 0;
    virtual HRESULT Reserved43() = 0;
    virtual HRESULT GetCompleteDowntimeList(const char* computer, BYTE** buffer, int* length) = 0;
    virtual HRESULT FreeDowntimeList(BYTE* buffer) = 0;
};

class IComputerList2 : public IComputerList {
public:
    virtual HRESULT GetAllComputerInformation(const char* computer, BYTE** buffer, int* length) = 0;
    virtual HRESULT Reserved47() = 0;
    virtual HRESULT Reserved48() = 0;
    virtual HRESULT Reserved49() = 0;
};

class IFileIO2;

// Makes the store of a virtual server over its file interface. S_OK, or
// E_OUTOFMEMORY / E_UNEXPECTED with *out unchanged.
HRESULT CreateComputerListStore(IComputerList2** out, IFileIO2* files);
// Deletes a store made by CreateComputerListStore; nothing for null.
HRESULT ReleaseComputerListStore(IComputerList2* store);
