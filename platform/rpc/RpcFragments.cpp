#include "platform/rpc/RpcFragments.h"

#include "platform/rpc/RpcProtocol.h"

#include <sys/uio.h>

#include <algorithm>
#include <memory>
#include <new>

namespace rpc {

namespace {

// Fragments handed to the kernel in one call, and pieces (a fragment's
// header and its body, which splices may cut into more).
constexpr size_t kFragmentsPerSend = 128;
constexpr size_t kPiecesPerSend = 512;

} // namespace

bool SendFragmented(std::span<const BYTE> stub, USHORT maxFragment, const FragmentHeaderWriter& header,
                    const PieceSender& send, std::span<const StubSplice> splices, std::span<BYTE> chunkBuffer)
{
    const size_t body = (std::max<size_t>(maxFragment, kFragmentHeaderSize + 8) - kFragmentHeaderSize) & ~size_t(7);
    if (stub.size() <= body && splices.empty()) {
        // Nearly every call: one fragment, framed without the batch below.
        BYTE head[kFragmentHeaderSize];
        header(head, PFC_FIRST_FRAG | PFC_LAST_FRAG, USHORT(kFragmentHeaderSize + stub.size()), ULONG(stub.size()));
        iovec pieces[2] = {{head, kFragmentHeaderSize}, {const_cast<BYTE*>(stub.data()), stub.size()}};
        return send(pieces, stub.empty() ? 1 : 2);
    }
    BYTE headers[kFragmentsPerSend][kFragmentHeaderSize];
    iovec pieces[kPiecesPerSend];
    int count = 0;
    size_t headersUsed = 0;
    // A batch may end inside a fragment: the connection sees one stream.
    auto flush = [&] {
        const bool sent = send(pieces, count);
        count = 0;
        headersUsed = 0;
        return sent;
    };
    auto add = [&](const BYTE* data, size_t length) {
        if (length == 0)
            return true;
        if (count == int(kPiecesPerSend) && !flush())
            return false;
        pieces[count++] = {const_cast<BYTE*>(data), length};
        return true;
    };
    // A buffer of the call's own, no larger than what goes through it: the
    // allocator hands a freed one of this size to the next call warm, and
    // thousands of connections reading small files hold nothing between calls.
    std::unique_ptr<BYTE[]> ownBuffer;
    size_t sourced = 0;
    for (const StubSplice& s : splices)
        sourced += s.source != nullptr ? s.length : 0;
    if (chunkBuffer.empty() && sourced > 0) {
        const size_t size = std::min(sourced, kSourceChunk);
        ownBuffer.reset(new (std::nothrow) BYTE[size]);
        if (ownBuffer == nullptr)
            return false;
        chunkBuffer = {ownBuffer.get(), size};
    }
    // The part of a sourced splice that lies in the buffer, from its start.
    const StubSplice* chunkOf = nullptr;
    size_t chunkFrom = 0, chunkTo = 0;
    // The next chunk of a sourced splice, once nothing queued points into the
    // buffer any more: reading it overlaps with the peer taking the last.
    auto refill = [&](const StubSplice& splice, size_t at) {
        if (count > 0 && !flush())
            return false;
        const size_t n = std::min(chunkBuffer.size(), splice.length - at);
        chunkOf = nullptr;
        if (!splice.source(at, chunkBuffer.data(), n))
            return false;
        chunkOf = &splice;
        chunkFrom = at;
        chunkTo = at + n;
        return true;
    };
    size_t pos = 0;
    size_t next = 0;  // the first splice not yet passed
    bool first = true;
    do {
        const size_t remaining = stub.size() - pos;
        const size_t chunk = std::min(remaining, body);
        const bool last = chunk == remaining;
        if (headersUsed == kFragmentsPerSend && !flush())
            return false;
        BYTE* head = headers[headersUsed++];
        header(head, BYTE((first ? PFC_FIRST_FRAG : 0) | (last ? PFC_LAST_FRAG : 0)),
               USHORT(kFragmentHeaderSize + chunk), ULONG(std::min<size_t>(remaining, 0xFFFFFFFFu)));
        if (!add(head, kFragmentHeaderSize))
            return false;
        const size_t end = pos + chunk;
        while (pos < end) {
            while (next < splices.size() && splices[next].offset + splices[next].length <= pos)
                ++next;
            size_t stop;
            const BYTE* from;
            if (next < splices.size() && splices[next].offset <= pos && splices[next].source != nullptr) {
                const StubSplice& splice = splices[next];
                const size_t at = pos - splice.offset;
                if ((chunkOf != &splice || at < chunkFrom || at >= chunkTo) && !refill(splice, at))
                    return false;
                stop = std::min(end, splice.offset + chunkTo);
                from = chunkBuffer.data() + (at - chunkFrom);
            } else if (next < splices.size() && splices[next].offset <= pos) {
                stop = std::min(end, splices[next].offset + splices[next].length);
                from = splices[next].data + (pos - splices[next].offset);
            } else {
                stop = next < splices.size() ? std::min(end, splices[next].offset) : end;
                from = stub.data() + pos;
            }
            if (!add(from, stop - pos))
                return false;
            pos = stop;
        }
        first = false;
    } while (pos != stub.size());
    return count == 0 || flush();
}

} // namespace rpc
