#include "common/callrecord/InvokeData.h"

#include "platform/win/LittleEndian.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <utility>

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
    size_t Position() const { return pos_; }
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

// A sourced item that cannot be read leaves zeros and clears *ok.
BYTE* PutItem(BYTE* at, const InvokeItem& item, bool* ok)
{
    at = WriteLittleEndian32(at, item.length);
    at = WriteLittleEndian32(at, item.type);
    if (item.source != nullptr) {
        if (!item.source->Read(0, at, item.length)) {
            std::memset(at, 0, item.length);
            *ok = false;
        }
    } else if (item.length > 0) {
        std::memcpy(at, item.data, item.length);
    }
    return at + item.length;
}

ULONGLONG QueueSize(const CInvokeItemQueue& queue)
{
    ULONGLONG size = 0;
    for (const auto& item : queue)
        size += kItemHead + item.length;
    return size;
}

// Items from this size on get a buffer of their own; smaller ones share the
// blob's block, so that a record of tiny items costs about its wire size.
constexpr DWORD kOwnBufferFrom = CInvokeData::kOwnBufferFrom;

// Walks count items; false when the blob ends early, a length is absurd or
// there are too many. *smallBytes grows by what the items below
// kOwnBufferFrom hold.
bool CheckItems(BoundedReader& r, DWORD count, size_t* smallBytes)
{
    if (count > CInvokeData::kMaxDecodedItems)
        return false;
    for (DWORD i = 0; i < count; ++i) {
        DWORD length = 0, type = 0;
        const BYTE* bytes = nullptr;
        // Checked before anything is allocated, so a hostile length never
        // costs memory.
        if (!r.Dword(&length) || !r.Dword(&type) || length >= kMaxItemLength || !r.Bytes(&bytes, length))
            return false;
        if (length < kOwnBufferFrom)
            *smallBytes += length;
    }
    return true;
}

// Copies count items that CheckItems passed: small ones into the arena at
// *used, others into buffers of their own, or, when borrowing, leaves those
// where they lie. The queue has room for them.
void FillQueue(BoundedReader& r, DWORD count, BYTE* arena, size_t* used, bool borrowLarge, CInvokeItemQueue& queue)
{
    for (DWORD i = 0; i < count; ++i) {
        InvokeItem item;
        const BYTE* bytes = nullptr;
        r.Dword(&item.length);
        r.Dword(&item.type);
        r.Bytes(&bytes, item.length);
        if (item.length < kOwnBufferFrom) {
            item.data = arena + *used;
            *used += item.length;
        } else if (borrowLarge) {
            item.data = const_cast<BYTE*>(bytes);
            queue.push_back(item);
            continue;
        } else {
            item.data = new BYTE[item.length];
        }
        if (item.length > 0)
            std::memcpy(item.data, bytes, item.length);
        queue.push_back(item);
    }
}

// A count with its top bit set reads as no items, as it always has.
DWORD ItemCount(DWORD count)
{
    return static_cast<LONG>(count) <= 0 ? 0 : count;
}

bool Within(const BYTE* at, const BYTE* block, size_t size)
{
    const auto p = reinterpret_cast<std::uintptr_t>(at);
    const auto start = reinterpret_cast<std::uintptr_t>(block);
    return block != nullptr && p >= start && p <= start + size;
}

} // namespace

CInvokeData::CInvokeData() = default;

CInvokeData::CInvokeData(DWORD code) : functionCode(code) {}

CInvokeData::~CInvokeData()
{
    Clear(in_);
    Clear(out_);
}

void CInvokeData::Free(const InvokeItem& item)
{
    delete item.source;
    if (!Within(item.data, local_, kLocalBytes) && !Within(item.data, arena_, arenaSize_) && !IsBorrowed(item))
        delete[] item.data;
}

void CInvokeData::Produce(InvokeItem& item)
{
    if (item.source == nullptr)
        return;
    std::unique_ptr<BYTE[]> bytes(new BYTE[item.length == 0 ? 1 : item.length]);
    std::unique_ptr<IInvokeItemSource> source(std::exchange(item.source, nullptr));
    if (!source->Read(0, bytes.get(), item.length))
        item.length = 0;
    item.data = bytes.release();
}

bool CInvokeData::IsBorrowed(const InvokeItem& item) const
{
    const auto at = reinterpret_cast<std::uintptr_t>(item.data);
    const auto start = reinterpret_cast<std::uintptr_t>(borrowed_);
    return borrowed_ != nullptr && at >= start && at < start + borrowedSize_;
}

void CInvokeData::ReleaseBlocks()
{
    // Runs several times a call, mostly with nothing held.
    if (!in_.empty() || !out_.empty() || (arena_ == nullptr && borrowed_ == nullptr && localUsed_ == 0))
        return;
    if (arena_ != local_)
        delete[] arena_;
    arena_ = nullptr;
    arenaSize_ = 0;
    borrowed_ = nullptr;
    borrowedSize_ = 0;
    localUsed_ = 0;
}

void CInvokeData::Clear(CInvokeItemQueue& queue)
{
    for (auto& item : queue)
        Free(item);
    queue.clear();
    ReleaseBlocks();
}

BYTE* CInvokeData::TakeLocal(size_t length)
{
    if (length > kLocalBytes - localUsed_)
        return nullptr;
    BYTE* at = local_ + localUsed_;
    localUsed_ += length;
    return at;
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

BYTE* CInvokeData::PutHeader(BYTE* at, DWORD mode, DWORD inCount, DWORD outCount) const
{
    at = WriteLittleEndian32(at, functionCode);
    at = WriteLittleEndian32(at, mode);
    at = WriteLittleEndian32(at, reserved);
    GuidToBytes(callerGuid, at);
    at += 16;
    at = WriteLittleEndian32(at, inCount);
    return WriteLittleEndian32(at, outCount);
}

LONG CInvokeData::Encode(BYTE* buffer, LONG capacity, DWORD mode) const
{
    DWORD size = GetEncodedSize(mode);
    if (buffer == nullptr || capacity < 0 || static_cast<DWORD>(capacity) < size)
        return E_OUTOFMEMORY;
    const bool withIn = mode == InvokeModeRequest || mode == InvokeModeBoth;
    const bool withOut = mode == InvokeModeReply || mode == InvokeModeBoth;
    // The size was checked against the capacity: what follows fits.
    BYTE* at = PutHeader(buffer, mode, withIn ? static_cast<DWORD>(in_.size()) : 0,
                         withOut ? static_cast<DWORD>(out_.size()) : 0);
    bool ok = true;
    if (withIn)
        for (const auto& item : in_)
            at = PutItem(at, item, &ok);
    if (withOut) {
        at = WriteLittleEndian32(at, static_cast<DWORD>(result));
        for (const auto& item : out_)
            at = PutItem(at, item, &ok);
    }
    return ok ? static_cast<LONG>(size) : E_FAIL;
}

LONG CInvokeData::EncodeReplySeparating(BYTE* buffer, LONG capacity, const SeparatedItem& take)
{
    DWORD size = GetEncodedSize(InvokeModeReply);
    if (buffer == nullptr || capacity < 0 || static_cast<DWORD>(capacity) < size)
        return E_OUTOFMEMORY;
    BYTE* at = PutHeader(buffer, InvokeModeReply, 0, static_cast<DWORD>(out_.size()));
    at = WriteLittleEndian32(at, static_cast<DWORD>(result));
    bool ok = true;
    for (InvokeItem& item : out_) {
        if (item.length < kSeparateFrom || (item.source == nullptr && IsBorrowed(item))) {
            at = PutItem(at, item, &ok);
            continue;
        }
        // Items this large that are not borrowed have buffers of their own,
        // or sources.
        at = WriteLittleEndian32(at, item.length);
        at = WriteLittleEndian32(at, item.type);
        std::unique_ptr<BYTE[]> data(std::exchange(item.data, nullptr));
        std::unique_ptr<IInvokeItemSource> source(std::exchange(item.source, nullptr));
        const DWORD length = std::exchange(item.length, 0);
        take(static_cast<size_t>(at - buffer), std::move(data), std::move(source), length);
        at += length;
    }
    return ok ? static_cast<LONG>(size) : E_FAIL;
}

bool CInvokeData::Decode(const BYTE* bytes, size_t length, bool borrowLarge)
{
    // The blob is walked first and copied only once it proved sound: a blob
    // that fails leaves the record's fields as they were, with empty queues.
    size_t smallBytes = 0;
    DWORD code = 0, mode = 0, res = 0, inCount = 0, outCount = 0, hr = 0;
    const BYTE* guid = nullptr;
    size_t inAt = 0, outAt = 0;
    bool ok = bytes != nullptr && length >= InvokeHeader::kSize;
    if (ok) {
        BoundedReader r(bytes, length);
        r.Dword(&code);
        r.Dword(&mode);
        r.Dword(&res);
        r.Bytes(&guid, 16);
        r.Dword(&inCount);
        r.Dword(&outCount);
        inCount = mode == InvokeModeRequest || mode == InvokeModeBoth ? ItemCount(inCount) : 0;
        outCount = mode == InvokeModeReply || mode == InvokeModeBoth ? ItemCount(outCount) : 0;
        inAt = r.Position();
        ok = CheckItems(r, inCount, &smallBytes);
        if (ok && (mode == InvokeModeReply || mode == InvokeModeBoth)) {
            ok = r.Dword(&hr);
            outAt = r.Position();
            ok = ok && CheckItems(r, outCount, &smallBytes);
        }
    }
    Clear(in_);
    Clear(out_);
    if (!ok)
        return false;
    // Every small item points into the arena, an empty one too (at most one
    // past the last byte used, still inside the block), so none of them is
    // ever freed on its own.
    try {
        in_.reserve(inCount);
        out_.reserve(outCount);
        arena_ = TakeLocal(smallBytes + 1);
        if (arena_ == nullptr)
            arena_ = new BYTE[smallBytes + 1];
        arenaSize_ = smallBytes;
        if (borrowLarge) {
            borrowed_ = bytes;
            borrowedSize_ = length;
        }
        size_t used = 0;
        BoundedReader in(bytes + inAt, length - inAt);
        FillQueue(in, inCount, arena_, &used, borrowLarge, in_);
        BoundedReader out(bytes + outAt, length - outAt);
        FillQueue(out, outCount, arena_, &used, borrowLarge, out_);
    } catch (...) {
        Clear(in_);
        Clear(out_);
        ReleaseBlocks();
        throw;
    }
    functionCode = code;
    reserved = res;
    callerGuid = GuidFromBytes(guid);
    if (mode == InvokeModeReply || mode == InvokeModeBoth)
        result = static_cast<HRESULT>(hr);
    return true;
}

LONG CInvokeData::PopFront(CInvokeItemQueue& queue)
{
    Free(queue.front());
    queue.pop_front();
    const LONG left = static_cast<LONG>(queue.size());
    ReleaseBlocks();
    return left;
}

LONG CInvokeData::PopStringFrom(CInvokeItemQueue& queue, char* buffer, DWORD size)
{
    if (queue.empty()) {
        if (buffer != nullptr && size > 0)
            std::memset(buffer, 0, size);
        return -1;
    }
    Produce(queue.front());
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

LONG CInvokeData::PopDwordFrom(CInvokeItemQueue& queue, DWORD* value)
{
    if (queue.empty()) {
        if (value != nullptr)
            *value = 0;
        return -1;
    }
    Produce(queue.front());
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

LONG CInvokeData::PopBytesFrom(CInvokeItemQueue& queue, BYTE** data, DWORD* length)
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
    Produce(queue.front());
    InvokeItem& item = queue.front();
    BYTE* taken = nullptr;
    if (item.length >= kOwnBufferFrom && !IsBorrowed(item)) {
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

bool CInvokeData::PeekBytes(const BYTE** data, DWORD* length) const
{
    const bool any = !in_.empty();
    if (data != nullptr)
        *data = any && in_.front().length > 0 ? in_.front().data : nullptr;
    if (length != nullptr)
        *length = any ? in_.front().length : 0;
    return any;
}

LONG CInvokeData::PopOutBytes(BYTE** data, DWORD* length)
{
    return PopBytesFrom(out_, data, length);
}

DWORD CInvokeData::Push(CInvokeItemQueue& queue, DWORD type, const void* data, DWORD length)
{
    InvokeItem item;
    item.type = type;
    item.length = data == nullptr ? 0 : length;
    // Small items (words, short names) live in the record itself.
    item.data = item.length <= kLocalItem ? TakeLocal(item.length) : nullptr;
    if (item.data == nullptr)
        item.data = new BYTE[item.length == 0 ? 1 : item.length];
    if (item.length > 0)
        std::memcpy(item.data, data, item.length);
    try {
        queue.push_back(item);
    } catch (...) {
        Free(item);
        throw;
    }
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

DWORD CInvokeData::PushOutSource(std::unique_ptr<IInvokeItemSource> source, DWORD length)
{
    if (source == nullptr || length == 0)
        return Push(out_, InvokeItemBytes, nullptr, 0);
    InvokeItem item;
    item.type = InvokeItemBytes;
    item.length = length;
    item.source = source.get();
    out_.push_back(item);
    source.release();
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
