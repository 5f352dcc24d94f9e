#pragma once
// Cutting stub data into request or response fragments, which both start
// with a 24-byte header, and handing them to the kernel in batches without
// copying the data.

#include "platform/win/WinTypes.h"

#include <functional>
#include <span>

struct iovec;

namespace rpc {

constexpr size_t kFragmentHeaderSize = 24;

// Stub bytes a fragment of maxFragment bytes carries: a multiple of eight.
constexpr size_t FragmentBody(USHORT maxFragment)
{
    return ((maxFragment > kFragmentHeaderSize + 8 ? maxFragment : kFragmentHeaderSize + 8) - kFragmentHeaderSize) &
           ~size_t(7);
}

// Writes the header of one fragment: its first/last flags, its length and
// the stub bytes still to go from its start (the alloc_hint).
using FragmentHeaderWriter = std::function<void(BYTE* header, BYTE flags, USHORT fragLength, ULONG allocHint)>;
using PieceSender = std::function<bool(const struct iovec* pieces, int count)>;

// Bytes of the stub data that are sent from elsewhere: the stub's own bytes
// at [offset, offset + length) are never read. A large result goes out from
// the block it was made in, without a copy into the stub.
struct StubSplice {
    size_t offset;
    size_t length;
    const BYTE* data;
};

// Every fragment but the last carries a multiple of eight bytes, so no NDR
// item's alignment depends on where a fragment starts; empty stub data still
// makes one fragment. Splices lie inside the stub, in order, and do not
// overlap. False when a send failed.
bool SendFragmented(std::span<const BYTE> stub, USHORT maxFragment, const FragmentHeaderWriter& header,
                    const PieceSender& send, std::span<const StubSplice> splices = {});

} // namespace rpc
