#pragma once
// The flat forms in which the computer list's lists travel to clients. All
// integers are u32 little-endian; every buffer is zero-filled before it is
// written, so padding and reserved fields are 0. Buffers come from new[]
// (at least one byte, also for a length of 0) and go back with delete[].
//
// FlatSchemaNodeList:   the 372-byte records back to back, no count.
// FlatComputerNameList: each non-empty name and its NUL, then one more NUL.
// FlatPendingOpList:    count, then per operation a 60-byte head (op id, app
//                       id, id, 8 reserved, 0, data size S, 0, description
//                       length D, status, result, last update, 0, remarks
//                       length R), D bytes and a zero, R bytes and a zero, S bytes.
// FlatDowntimeList:     count, then per schedule a 56-byte head (down id,
//                       status, four dates, recurrence, recurrence info, 0,
//                       remarks length R), R bytes and a zero.
// FlatComputerInfoList: number of computers; per computer the name length N,
//                       N bytes and a NUL, the number of items; per item its
//                       key, data length L, L bytes and a zero.
//
// Each answers S_OK, E_OUTOFMEMORY (also for a list longer than 2 GiB) or
// E_UNEXPECTED, and leaves the outputs untouched on failure.

#include "server/shared/ComputerList.h"

#include <string>
#include <utility>
#include <vector>

struct ComputerInfoItem {
    DWORD key;
    std::vector<BYTE> data;
};
using ComputerInfoEntry = std::pair<std::string, std::vector<ComputerInfoItem>>;

constexpr size_t kFlatPendingOpHead = 60;
constexpr size_t kFlatDowntimeHead = 56;

HRESULT FlattenSchemaNodeList(const std::vector<SchemaNodeRecord>& nodes, BYTE** buffer, int* length);
HRESULT FlattenPendingOpList(const std::vector<const PendingOpRecord*>& ops, BYTE** buffer, int* length);
HRESULT FlattenDowntimeList(const std::vector<const DowntimeRecord*>& schedules, BYTE** buffer, int* length);
HRESULT FlattenComputerInfoList(const std::vector<ComputerInfoEntry>& computers, BYTE** buffer, int* length);
