#pragma once
// The call record: a function code, the caller's GUID, a result and two FIFO
// queues of typed items, with its little-endian wire form.

#include "common/callrecord/InvokeItemQueue.h"
#include "common/callrecord/InvokeItemSource.h"
#include "platform/win/Guid.h"
#include "platform/win/WinTypes.h"

#include <cstdint>
#include <functional>
#include <memory>
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
    // Items this large get buffers of their own (or are borrowed); smaller
    // ones share one block.
    static constexpr DWORD kOwnBufferFrom = 4096;

    DWORD GetEncodedSize(DWORD mode) const;
    // The encoded size, or E_OUTOFMEMORY without writing when capacity is short.
    // Sourced items are read into place; E_FAIL when one cannot be read in
    // full (its bytes are then zeros, never stale memory).
    LONG Encode(BYTE* buffer, LONG capacity, DWORD mode) const;
    // Out-items from this size on may be sent from where they lie.
    static constexpr DWORD kSeparateFrom = 16384;
    // Encodes the reply as Encode does, but leaves the bytes of out-items of
    // kSeparateFrom bytes or more unwritten: each such item's buffer, or its
    // source, is handed to take (the other one null) with the offset in
    // buffer where its bytes belong, and the item is left empty (a borrowed
    // item is copied as Encode would). A list of megabytes is then not
    // copied into the reply before it is sent, and a file is read as it goes.
    using SeparatedItem = std::function<void(size_t offset, std::unique_ptr<BYTE[]> data,
                                             std::unique_ptr<IInvokeItemSource> source, DWORD length)>;
    LONG EncodeReplySeparating(BYTE* buffer, LONG capacity, const SeparatedItem& take);
    // Replaces the content with the blob's; false when the blob is malformed
    // or holds more than kMaxDecodedItems items in a queue, in which case the
    // queues are left empty. What it keeps is never more than the blob's
    // size plus a few words per item. With borrowLarge, items of
    // kOwnBufferFrom bytes or more are not copied but point into bytes,
    // which then must outlive the record: a request's file content is
    // written from where it was received.
    bool Decode(const BYTE* bytes, size_t length, bool borrowLarge = false);

    // Pops return the number of in-items left, or -1 for an empty queue.
    LONG PopString(char* buffer, DWORD size);
    LONG PopBuffer(BYTE* buffer, DWORD size);
    LONG PopDword(DWORD* value);
    LONG PopInt(LONG* value);
    // *data: an array-new buffer the caller frees with array delete (the
    // item's own, handed over, when it has one); null for an empty item.
    LONG PopBytes(BYTE** data, DWORD* length);
    // The next in-item's bytes where they lie, without popping it: valid
    // until it is popped or the record changes. False for an empty queue.
    bool PeekBytes(const BYTE** data, DWORD* length) const;

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
    // A bytes item of length bytes that the source gives when the reply is
    // encoded or sent (or the item popped); the record owns the source. A
    // pop of an item whose source fails finds it empty.
    DWORD PushOutSource(std::unique_ptr<IInvokeItemSource> source, DWORD length);

    // Reading the out-queue, for callers that receive replies (tests, clients).
    LONG PopOutString(char* buffer, DWORD size);
    LONG PopOutDword(DWORD* value);
    LONG PopOutInt(LONG* value);
    LONG PopOutBytes(BYTE** data, DWORD* length);

    size_t InCount() const { return in_.size(); }
    size_t OutCount() const { return out_.size(); }
    const CInvokeItemQueue& InItems() const { return in_; }
    // A sourced out-item shows its length but no data until it is popped.
    const CInvokeItemQueue& OutItems() const { return out_; }

    DWORD functionCode = 0;
    HRESULT result = E_FAIL;
    GUID callerGuid = GUID_NULL;
    DWORD reserved = 0;

private:
    // Bytes held in the record itself for small items.
    static constexpr size_t kLocalBytes = 128;
    // Pushed items up to this size are carved from those bytes.
    static constexpr DWORD kLocalItem = 16;

    BYTE* PutHeader(BYTE* at, DWORD mode, DWORD inCount, DWORD outCount) const;
    void Clear(CInvokeItemQueue& queue);
    // Gives back the arena and the local bytes once both queues are empty.
    void ReleaseBlocks();
    void Free(const InvokeItem& item);
    // Reads a sourced item into a buffer of its own; one whose source fails
    // becomes empty.
    void Produce(InvokeItem& item);
    bool IsBorrowed(const InvokeItem& item) const;
    DWORD Push(CInvokeItemQueue& queue, DWORD type, const void* data, DWORD length);
    BYTE* TakeLocal(size_t length);
    LONG PopStringFrom(CInvokeItemQueue& queue, char* buffer, DWORD size);
    LONG PopDwordFrom(CInvokeItemQueue& queue, DWORD* value);
    LONG PopBytesFrom(CInvokeItemQueue& queue, BYTE** data, DWORD* length);
    LONG PopFront(CInvokeItemQueue& queue);

    CInvokeItemQueue in_;
    CInvokeItemQueue out_;
    // The small items of the last decoded blob share one block (the local
    // bytes when they fit); larger ones have buffers of their own, which pops
    // can hand over without a copy.
    BYTE* arena_ = nullptr;
    size_t arenaSize_ = 0;
    // The blob the large items of a borrowing Decode point into.
    const BYTE* borrowed_ = nullptr;
    size_t borrowedSize_ = 0;
    size_t localUsed_ = 0;
    BYTE local_[kLocalBytes];
};

// The caller GUID in the RPC runtime's text form, or "Unknown".
std::string GetCallerGuidText(const CInvokeData& record);
