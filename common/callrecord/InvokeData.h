#pragma once
// The call record: a function code, the caller's GUID, a result and two FIFO
// queues of typed items, with its little-endian wire form.

#include "platform/win/Guid.h"
#include "platform/win/WinTypes.h"

#include <cstdint>
#include <deque>
#include <string>

enum InvokeItemType : DWORD {
    InvokeItemDword = 0,
    InvokeItemLong = 1,
    InvokeItemString = 2,
    InvokeItemBytes = 3,
};

enum InvokeMode : DWORD {
    InvokeModeRequest = 0,
    InvokeModeReply = 1,
    InvokeModeBoth = 2,
};

struct InvokeItem {
    DWORD type = 0;
    DWORD length = 0;
    BYTE* data = nullptr; // length bytes, owned by the record
};

// Wire header; every field little-endian.
struct InvokeHeader {
    static constexpr DWORD kSize = 36;
    DWORD functionCode;
    DWORD mode;
    DWORD reserved;
    GUID callerGuid;
    DWORD inCount;
    DWORD outCount;
};

// Writes into a fixed buffer; a write that does not fit is skipped.
class BoundedWriter {
public:
    BoundedWriter(BYTE* buffer, size_t capacity) : cursor_(buffer), left_(capacity) {}
    bool Write(const void* data, size_t size);
    bool WriteDword(DWORD value);

private:
    BYTE* cursor_;
    size_t left_;
};

class CInvokeData {
public:
    CInvokeData();
    explicit CInvokeData(DWORD functionCode);
    virtual ~CInvokeData();

    CInvokeData(const CInvokeData&) = delete;
    CInvokeData& operator=(const CInvokeData&) = delete;

    // Most items a decoded blob may hold in each queue: a handler reads a
    // few, and a blob of empty items must not cost many times its size.
    static constexpr DWORD kMaxDecodedItems = 65536;

    DWORD GetEncodedSize(DWORD mode) const;
    // The encoded size, or E_OUTOFMEMORY without writing when capacity is short.
    LONG Encode(BYTE* buffer, LONG capacity, DWORD mode) const;
    // Replaces the content with the blob's; false when the blob is malformed
    // or holds more than kMaxDecodedItems items in a queue, in which case the
    // queues are left empty. What it keeps is never more than the blob's
    // size plus a few words per item.
    bool Decode(const BYTE* bytes, size_t length);

    // Pops return the number of in-items left, or -1 for an empty queue.
    LONG PopString(char* buffer, DWORD size);
    LONG PopBuffer(BYTE* buffer, DWORD size);
    LONG PopDword(DWORD* value);
    LONG PopInt(LONG* value);
    // *data: an array-new buffer the caller frees with array delete (the
    // item's own, handed over, when it has one); null for an empty item.
    LONG PopBytes(BYTE** data, DWORD* length);

    // Pushes return the queue's new length.
    DWORD PushInString(const char* text);
    DWORD PushInDword(DWORD value);
    DWORD PushInBytes(const void* data, DWORD length);
    DWORD PushOutDword(DWORD value);
    DWORD PushOutLong(LONG value);
    DWORD PushOutString(const char* text);
    DWORD PushOutBytes(const void* data, DWORD length);
    // Like PushOutBytes, but takes over data (array new, at least length
    // bytes) instead of copying it; a large reply then is not copied twice.
    DWORD AdoptOutBytes(BYTE* data, DWORD length);

    // Reading the out-queue, for callers that receive replies (tests, clients).
    LONG PopOutString(char* buffer, DWORD size);
    LONG PopOutDword(DWORD* value);
    LONG PopOutInt(LONG* value);
    LONG PopOutBytes(BYTE** data, DWORD* length);

    size_t InCount() const { return in_.size(); }
    size_t OutCount() const { return out_.size(); }
    const std::deque<InvokeItem>& InItems() const { return in_; }
    const std::deque<InvokeItem>& OutItems() const { return out_; }

    DWORD functionCode = 0;
    HRESULT result = E_FAIL;
    GUID callerGuid = GUID_NULL;
    DWORD reserved = 0;

private:
    void Clear(std::deque<InvokeItem>& queue);
    void Free(const InvokeItem& item);
    static DWORD Push(std::deque<InvokeItem>& queue, DWORD type, const void* data, DWORD length);
    LONG PopStringFrom(std::deque<InvokeItem>& queue, char* buffer, DWORD size);
    LONG PopDwordFrom(std::deque<InvokeItem>& queue, DWORD* value);
    LONG PopBytesFrom(std::deque<InvokeItem>& queue, BYTE** data, DWORD* length);
    LONG PopFront(std::deque<InvokeItem>& queue);

    std::deque<InvokeItem> in_;
    std::deque<InvokeItem> out_;
    // The small items of the last decoded blob share one block; larger ones
    // have buffers of their own, which pops can hand over without a copy.
    BYTE* arena_ = nullptr;
    size_t arenaSize_ = 0;
};

// The caller GUID in the RPC runtime's text form, or "Unknown".
std::string GetCallerGuidText(const CInvokeData& record);
