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

// Fills [to, to + length) with a splice's bytes from offset on; false when
// they cannot all be had.
using StubSource = std::function<bool(size_t offset, BYTE* to, size_t length)>;

// Bytes of the stub data that are sent from elsewhere: the stub's own bytes
// at [offset, offset + length) are never read. A large result goes out from
// the block it was made in, without a copy into the stub, or, with a source
// (data null), is read a piece at a time as it is sent: a file's content
// then needs no buffer of its size.
struct StubSplice {
    size_t offset;
    size_t length;
    const BYTE* data;
    StubSource source = nullptr;
};

// Bytes of sourced splices read at once when no buffer is given.
constexpr size_t kSourceChunk = 512 * 1024;

// Every fragment but the last carries a multiple of eight bytes, so no NDR
// item's alignment depends on where a fragment starts; empty stub data still
// makes one fragment. Splices lie inside the stub, in order, and do not
// overlap. Sourced splices are read into chunkBuffer, which is reused as
// soon as what lies in it has been sent. False when a send failed or a
// source could not give its bytes, in which case the stream stops within
// the message and the connection is of no further use.
bool SendFragmented(std::span<const BYTE> stub, USHORT maxFragment, const FragmentHeaderWriter& header,
                    const PieceSender& send, std::span<const StubSplice> splices = {},
                    std::span<BYTE> chunkBuffer = {});

} // namespace rpc
