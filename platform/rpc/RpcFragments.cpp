#include "platform/rpc/RpcFragments.h"

#include "platform/rpc/RpcProtocol.h"

#include <sys/uio.h>

#include <algorithm>

namespace rpc {

namespace {

// Fragments handed to the kernel in one call.
constexpr size_t kFragmentsPerSend = 128;

} // namespace

bool SendFragmented(std::span<const BYTE> stub, USHORT maxFragment, const FragmentHeaderWriter& header,
                    const PieceSender& send)
{
    const size_t body = (std::max<size_t>(maxFragment, kFragmentHeaderSize + 8) - kFragmentHeaderSize) & ~size_t(7);
    if (stub.size() <= body) {
        // Nearly every call: one fragment, framed without the batch below.
        BYTE head[kFragmentHeaderSize];
        header(head, PFC_FIRST_FRAG | PFC_LAST_FRAG, USHORT(kFragmentHeaderSize + stub.size()), ULONG(stub.size()));
        iovec pieces[2] = {{head, kFragmentHeaderSize}, {const_cast<BYTE*>(stub.data()), stub.size()}};
        return send(pieces, stub.empty() ? 1 : 2);
    }
    const BYTE* data = stub.data();
    size_t remaining = stub.size();
    BYTE headers[kFragmentsPerSend][kFragmentHeaderSize];
    iovec pieces[kFragmentsPerSend * 2];
    bool first = true;
    do {
        int count = 0;
        for (size_t f = 0; f < kFragmentsPerSend; ++f) {
            size_t chunk = std::min(remaining, body);
            bool last = chunk == remaining;
            BYTE flags = BYTE((first ? PFC_FIRST_FRAG : 0) | (last ? PFC_LAST_FRAG : 0));
            header(headers[f], flags, USHORT(kFragmentHeaderSize + chunk), ULONG(std::min<size_t>(remaining, 0xFFFFFFFFu)));
            pieces[count++] = {headers[f], kFragmentHeaderSize};
            if (chunk != 0)
                pieces[count++] = {const_cast<BYTE*>(data), chunk};
            data += chunk;
            remaining -= chunk;
            first = false;
            if (last)
                break;
        }
        if (!send(pieces, count))
            return false;
    } while (remaining != 0);
    return true;
}

} // namespace rpc
