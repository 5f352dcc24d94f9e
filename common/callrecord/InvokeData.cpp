#include "common/callrecord/InvokeData.h"

#include "platform/win/LittleEndian.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

namespace {

constexpr DWORD kItemHead = 8;
constexpr DWORD kMaxItemLength = 0x80000000u;

// Reads within [pos, end); false when the read would run past the end.
class BoundedReader {
public:
    BoundedReader(const BYTE* data, size_t length) : data_(data), length_(length) {}
    bool Dword(DWORD* value)
    {
        if (length_ - pos_ < 4)
            return false;
        *value = ReadLittleEndian32(data_ + pos_);
        pos_ += 4;
        return true;
    }
    bool Bytes(const BYTE** out, size_t size)
    {
        if (length_ - pos_ < size)
            return false;
        *out = data_ + pos_;
        pos_ += size;
        return true;
    }

private:
    const BYTE* data_;
    size_t length_;
    size_t pos_ = 0;
};

void WriteItem(BoundedWriter& w, const InvokeItem& item)
{
    w.WriteDword(item.length);
    w.WriteDword(item.type);
    if (item.length > 0)
        w.Write(item.data, item.length);
}

ULONGLONG QueueSize(const std::deque<InvokeItem>& queue)
{
    ULONGLONG size = 0;
    for (const auto& item : queue)
        size += kItemHead + item.length;
    return size;
}

// Items from this size on get a buffer of their own; smaller ones share the
// blob's block, so that a record of tiny items costs about its wire size.
constexpr DWORD kOwnBufferFrom = 4096;

struct ItemSpan {
    DWORD type;
    DWORD length;
    const BYTE* bytes;
};

// Reads count items; false when the blob ends early, a length is absurd or
// there are too many. *smallBytes: what the items below kOwnBufferFrom hold.
bool ReadItems(BoundedReader& r, DWORD count, std::vector<ItemSpan>& items, size_t* smallBytes)
{
    if (static_cast<LONG>(count) <= 0)
        return true;
    if (count > CInvokeData::kMaxDecodedItems)
        return false;
    for (DWORD i = 0; i < count; ++i) {
        DWORD length = 0, type = 0;
        if (!r.Dword(&length) || !r.Dword(&type) || length >= kMaxItemLength)
            return false;
        const BYTE* bytes = nullptr;
        // Checked before allocating, so a hostile length never costs memory.
        if (!r.Bytes(&bytes, length))
            return false;
        items.push_back({type, length, bytes});
        if (length < kOwnBufferFrom)
            *smallBytes += length;
    }
    return true;
}

// Copies the items' bytes: small ones into the arena at *used, others into
// buffers of their own.
void FillQueue(const std::vector<ItemSpan>& items, BYTE* arena, size_t* used, std::deque<InvokeItem>& queue)
{
    for (const ItemSpan& span : items) {
        InvokeItem item;
        item.type = span.type;
        item.length = span.length;
        if (span.length < kOwnBufferFrom) {
            item.data = arena + *used;
            *used += span.length;
        } else {
            item.data = new BYTE[span.length];
        }
        if (span.length > 0)
            std::memcpy(item.data, span.bytes, span.length);
        try {
            queue.push_back(item);
        } catch (...) {
            if (span.length >= kOwnBufferFrom)
                delete[] item.data;
            throw;
        }
    }
}

} // namespace

bool BoundedWriter::Write(const void* data, size_t size)
{
    if (size > left_)
        return false;
    if (size > 0)
        std::memcpy(cursor_, data, size);
    cursor_ += size;
    left_ -= size;
    return true;
}

bool BoundedWriter::WriteDword(DWORD value)
{
    BYTE b[4];
    WriteLittleEndian32(b, value);
    return Write(b, 4);
}

CInvokeData::CInvokeData() = default;

CInvokeData::CInvokeData(DWORD code) : functionCode(code) {}

CInvokeData::~CInvokeData()
{
    Clear(in_);
    Clear(out_);
}

void CInvokeData::Free(const InvokeItem& item)
{
    const auto at = reinterpret_cast<std::uintptr_t>(item.data);
    const auto start = reinterpret_cast<std::uintptr_t>(arena_);
    if (arena_ == nullptr || at < start || at > start + arenaSize_)
        delete[] item.data;
}

void CInvokeData::Clear(std::deque<InvokeItem>& queue)
{
    for (auto& item : queue)
        Free(item);
    queue.clear();
    if (in_.empty() && out_.empty()) {
        delete[] arena_;
        arena_ = nullptr;
        arenaSize_ = 0;
    }
}

DWORD CInvokeData::GetEncodedSize(DWORD mode) const
{
    ULONGLONG size = InvokeHeader::kSize;
    if (mode == InvokeModeRequest || mode == InvokeModeBoth)
        size += QueueSize(in_);
    if (mode == InvokeModeReply || mode == InvokeModeBoth)
        size += 4 + QueueSize(out_);
    if (mode > InvokeModeBoth)
        size = InvokeHeader::kSize;
    return static_cast<DWORD>(size);
}

LONG CInvokeData::Encode(BYTE* buffer, LONG capacity, DWORD mode) const
{
    DWORD size = GetEncodedSize(mode);
    if (buffer == nullptr || capacity < 0 || static_cast<DWORD>(capacity) < size)
        return E_OUTOFMEMORY;
    const bool withIn = mode == InvokeModeRequest || mode == InvokeModeBoth;
    const bool withOut = mode == InvokeModeReply || mode == InvokeModeBoth;

    BoundedWriter w(buffer, static_cast<size_t>(capacity));
    BYTE guid[16];
    GuidToBytes(callerGuid, guid);
    w.WriteDword(functionCode);
    w.WriteDword(mode);
    w.WriteDword(reserved);
    w.Write(guid, sizeof guid);
    w.WriteDword(withIn ? static_cast<DWORD>(in_.size()) : 0);
    w.WriteDword(withOut ? static_cast<DWORD>(out_.size()) : 0);
    if (withIn)
        for (const auto& item : in_)
            WriteItem(w, item);
    if (withOut) {
        w.WriteDword(static_cast<DWORD>(result));
        for (const auto& item : out_)
            WriteItem(w, item);
    }
    return static_cast<LONG>(size);
}

bool CInvokeData::Decode(const BYTE* bytes, size_t length)
{
    // The blob is walked first and copied only once it proved sound: a blob
    // that fails leaves the record's fields as they were, with empty queues.
    std::vector<ItemSpan> inItems, outItems;
    size_t smallBytes = 0;
    DWORD code = 0, mode = 0, res = 0, inCount = 0, outCount = 0, hr = 0;
    const BYTE* guid = nullptr;
    bool ok = bytes != nullptr && length >= InvokeHeader::kSize;
    if (ok) {
        BoundedReader r(bytes, length);
        r.Dword(&code);
        r.Dword(&mode);
        r.Dword(&res);
        r.Bytes(&guid, 16);
        r.Dword(&inCount);
        r.Dword(&outCount);
        if (mode == InvokeModeRequest || mode == InvokeModeBoth)
            ok = ReadItems(r, inCount, inItems, &smallBytes);
        if (ok && (mode == InvokeModeReply || mode == InvokeModeBoth))
            ok = r.Dword(&hr) && ReadItems(r, outCount, outItems, &smallBytes);
    }
    Clear(in_);
    Clear(out_);
    if (!ok)
        return false;
    // Every small item points into the arena, an empty one too (at most one
    // past the last byte used, still inside the block), so none of them is
    // ever freed on its own.
    arena_ = new BYTE[smallBytes + 1];
    arenaSize_ = smallBytes;
    size_t used = 0;
    try {
        FillQueue(inItems, arena_, &used, in_);
        FillQueue(outItems, arena_, &used, out_);
    } catch (...) {
        Clear(in_);
        Clear(out_);
        delete[] arena_;
        arena_ = nullptr;
        arenaSize_ = 0;
        throw;
    }
    functionCode = code;
    reserved = res;
    callerGuid = GuidFromBytes(guid);
    if (mode == InvokeModeReply || mode == InvokeModeBoth)
        result = static_cast<HRESULT>(hr);
    return true;
}

LONG CInvokeData::PopFront(std::deque<InvokeItem>& queue)
{
    Free(queue.front());
    queue.pop_front();
    const LONG left = static_cast<LONG>(queue.size());
    if (in_.empty() && out_.empty())
        Clear(queue); // gives back the arena
    return left;
}

LONG CInvokeData::PopStringFrom(std::deque<InvokeItem>& queue, char* buffer, DWORD size)
{
    if (queue.empty()) {
        if (buffer != nullptr && size > 0)
            std::memset(buffer, 0, size);
        return -1;
    }
    if (buffer != nullptr && size > 0) {
        const InvokeItem& item = queue.front();
        DWORD n = std::min(item.length, size - 1);
        if (n > 0)
            std::memcpy(buffer, item.data, n);
        buffer[n] = '\0';
    }
    return PopFront(queue);
}

LONG CInvokeData::PopString(char* buffer, DWORD size)
{
    return PopStringFrom(in_, buffer, size);
}

LONG CInvokeData::PopOutString(char* buffer, DWORD size)
{
    return PopStringFrom(out_, buffer, size);
}

LONG CInvokeData::PopBuffer(BYTE* buffer, DWORD size)
{
    if (in_.empty()) {
        if (buffer != nullptr && size > 0)
            std::memset(buffer, 0, size);
        return -1;
    }
    const InvokeItem& item = in_.front();
    DWORD n = std::min(item.length, size);
    if (buffer != nullptr && n > 0)
        std::memcpy(buffer, item.data, n);
    return PopFront(in_);
}

LONG CInvokeData::PopDwordFrom(std::deque<InvokeItem>& queue, DWORD* value)
{
    if (queue.empty()) {
        if (value != nullptr)
            *value = 0;
        return -1;
    }
    const InvokeItem& item = queue.front();
    BYTE b[4] = {0, 0, 0, 0};
    std::memcpy(b, item.data, std::min<DWORD>(item.length, 4));
    if (value != nullptr)
        *value = ReadLittleEndian32(b);
    return PopFront(queue);
}

LONG CInvokeData::PopDword(DWORD* value)
{
    return PopDwordFrom(in_, value);
}

LONG CInvokeData::PopInt(LONG* value)
{
    DWORD v = 0;
    LONG left = PopDwordFrom(in_, &v);
    if (value != nullptr)
        *value = static_cast<LONG>(v);
    return left;
}

LONG CInvokeData::PopOutDword(DWORD* value)
{
    return PopDwordFrom(out_, value);
}

LONG CInvokeData::PopOutInt(LONG* value)
{
    DWORD v = 0;
    LONG left = PopDwordFrom(out_, &v);
    if (value != nullptr)
        *value = static_cast<LONG>(v);
    return left;
}

LONG CInvokeData::PopBytesFrom(std::deque<InvokeItem>& queue, BYTE** data, DWORD* length)
{
    if (queue.empty()) {
        if (data != nullptr)
            *data = nullptr;
        if (length != nullptr)
            *length = 0;
        return -1;
    }
    // A large item's buffer is the copy the caller gets: a file of tens of
    // megabytes is not copied once more on its way to the handler. A small
    // one lives in the arena and is copied.
    InvokeItem& item = queue.front();
    BYTE* taken = nullptr;
    if (item.length >= kOwnBufferFrom) {
        taken = item.data;
        item.data = nullptr;
    } else if (item.length > 0 && data != nullptr) {
        taken = new BYTE[item.length];
        std::memcpy(taken, item.data, item.length);
    }
    if (length != nullptr)
        *length = item.length;
    if (data != nullptr)
        *data = taken;
    else
        delete[] taken;
    return PopFront(queue);
}

LONG CInvokeData::PopBytes(BYTE** data, DWORD* length)
{
    return PopBytesFrom(in_, data, length);
}

LONG CInvokeData::PopOutBytes(BYTE** data, DWORD* length)
{
    return PopBytesFrom(out_, data, length);
}

DWORD CInvokeData::Push(std::deque<InvokeItem>& queue, DWORD type, const void* data, DWORD length)
{
    InvokeItem item;
    item.type = type;
    item.length = data == nullptr ? 0 : length;
    item.data = new BYTE[item.length == 0 ? 1 : item.length];
    if (item.length > 0)
        std::memcpy(item.data, data, item.length);
    queue.push_back(item);
    return static_cast<DWORD>(queue.size());
}

static DWORD TextLength(const char* text)
{
    return text == nullptr ? 0 : static_cast<DWORD>(std::strlen(text) + 1);
}

DWORD CInvokeData::PushInString(const char* text)
{
    return Push(in_, InvokeItemString, text, TextLength(text));
}

DWORD CInvokeData::PushInDword(DWORD value)
{
    BYTE b[4];
    WriteLittleEndian32(b, value);
    return Push(in_, InvokeItemDword, b, 4);
}

DWORD CInvokeData::PushInBytes(const void* data, DWORD length)
{
    return Push(in_, InvokeItemBytes, data, length);
}

DWORD CInvokeData::PushOutDword(DWORD value)
{
    BYTE b[4];
    WriteLittleEndian32(b, value);
    return Push(out_, InvokeItemDword, b, 4);
}

DWORD CInvokeData::PushOutLong(LONG value)
{
    BYTE b[4];
    WriteLittleEndian32(b, static_cast<DWORD>(value));
    return Push(out_, InvokeItemLong, b, 4);
}

DWORD CInvokeData::PushOutString(const char* text)
{
    return Push(out_, InvokeItemString, text, TextLength(text));
}

DWORD CInvokeData::PushOutBytes(const void* data, DWORD length)
{
    return Push(out_, InvokeItemBytes, data, length);
}

DWORD CInvokeData::AdoptOutBytes(BYTE* data, DWORD length)
{
    if (data == nullptr || length == 0) {
        delete[] data;
        return Push(out_, InvokeItemBytes, nullptr, 0);
    }
    InvokeItem item;
    item.type = InvokeItemBytes;
    item.length = length;
    item.data = data;
    try {
        out_.push_back(item);
    } catch (...) {
        delete[] data;
        throw;
    }
    return static_cast<DWORD>(out_.size());
}

std::string GetCallerGuidText(const CInvokeData& record)
{
    try {
        return UuidToString(record.callerGuid);
    } catch (...) {
        return "Unknown";
    }
}
