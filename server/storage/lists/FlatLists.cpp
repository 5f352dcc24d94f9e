#include "server/storage/lists/FlatLists.h"

#include "platform/win/LittleEndian.h"

#include <climits>
#include <cstring>
#include <new>

namespace {

// Appends into a zero-filled buffer whose size was summed beforehand.
class FlatWriter {
public:
    explicit FlatWriter(BYTE* at) : at_(at) {}
    void U32(DWORD v)
    {
        BYTE b[4];
        WriteLittleEndian32(b, v);
        Bytes(b, 4);
    }
    void FileTime(const FILETIME& ft)
    {
        U32(ft.dwLowDateTime);
        U32(ft.dwHighDateTime);
    }
    void Bytes(const void* data, size_t size)
    {
        if (size > 0 && data != nullptr)
            std::memcpy(at_, data, size);
        at_ += size;
    }
    // Leaves zeros in place.
    void Skip(size_t size) { at_ += size; }

private:
    BYTE* at_;
};

// Allocates the zero-filled buffer and lets fill write it.
template <class Fill>
HRESULT Flatten(size_t total, BYTE** buffer, int* length, Fill fill)
{
    if (buffer == nullptr || length == nullptr)
        return E_INVALIDARG;
    try {
        if (total > static_cast<size_t>(INT_MAX))
            return E_OUTOFMEMORY;
        BYTE* out = new BYTE[total == 0 ? 1 : total]();
        FlatWriter w(out);
        fill(w);
        *buffer = out;
        *length = static_cast<int>(total);
        return S_OK;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

} // namespace

HRESULT FlattenSchemaNodeList(const std::vector<SchemaNodeRecord>& nodes, BYTE** buffer, int* length)
{
    return Flatten(nodes.size() * sizeof(SchemaNodeRecord), buffer, length, [&](FlatWriter& w) {
        for (const auto& node : nodes)
            w.Bytes(&node, sizeof node);
    });
}

HRESULT FlattenPendingOpList(const std::vector<const PendingOpRecord*>& ops, BYTE** buffer, int* length)
{
    size_t total = 4;
    for (const auto* op : ops)
        total += kFlatPendingOpHead + op->descriptionLength + 1 + op->remarksLength + 1 + op->dataSize;
    return Flatten(total, buffer, length, [&](FlatWriter& w) {
        w.U32(static_cast<DWORD>(ops.size()));
        for (const auto* op : ops) {
            w.U32(op->opId);
            w.U32(op->appId);
            w.U32(op->id);
            w.Skip(8 + 4);
            w.U32(op->dataSize);
            w.Skip(4);
            w.U32(op->descriptionLength);
            w.U32(op->status);
            w.U32(static_cast<DWORD>(op->result));
            w.FileTime(op->lastUpdate);
            w.Skip(4);
            w.U32(op->remarksLength);
            w.Bytes(op->description, op->descriptionLength);
            w.Skip(1);
            w.Bytes(op->remarks, op->remarksLength);
            w.Skip(1);
            w.Bytes(op->data, op->dataSize);
        }
    });
}

HRESULT FlattenDowntimeList(const std::vector<const DowntimeRecord*>& schedules, BYTE** buffer, int* length)
{
    size_t total = 4;
    for (const auto* s : schedules)
        total += kFlatDowntimeHead + s->remarksLength + 1;
    return Flatten(total, buffer, length, [&](FlatWriter& w) {
        w.U32(static_cast<DWORD>(schedules.size()));
        for (const auto* s : schedules) {
            w.U32(s->downId);
            w.U32(s->status);
            w.FileTime(s->startDate);
            w.FileTime(s->expireDate);
            w.FileTime(s->disableTime);
            w.FileTime(s->enableTime);
            w.U32(s->recurrence);
            w.U32(s->recurrenceInfo);
            w.Skip(4);
            w.U32(s->remarksLength);
            w.Bytes(s->remarks, s->remarksLength);
            w.Skip(1);
        }
    });
}

HRESULT FlattenComputerInfoList(const std::vector<ComputerInfoEntry>& computers, BYTE** buffer, int* length)
{
    size_t total = 4;
    for (const auto& [name, items] : computers) {
        total += 4 + name.size() + 1 + 4;
        for (const auto& item : items)
            total += 8 + item.data.size() + 1;
    }
    return Flatten(total, buffer, length, [&](FlatWriter& w) {
        w.U32(static_cast<DWORD>(computers.size()));
        for (const auto& [name, items] : computers) {
            w.U32(static_cast<DWORD>(name.size()));
            w.Bytes(name.data(), name.size());
            w.Skip(1);
            w.U32(static_cast<DWORD>(items.size()));
            for (const auto& item : items) {
                w.U32(item.key);
                w.U32(static_cast<DWORD>(item.data.size()));
                w.Bytes(item.data.data(), item.data.size());
                w.Skip(1);
            }
        }
    });
}
