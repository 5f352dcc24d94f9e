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

// Writes the header of one fragment: its first/last flags, its length and
// the stub bytes still to go from its start (the alloc_hint).
using FragmentHeaderWriter = std::function<void(BYTE* header, BYTE flags, USHORT fragLength, ULONG allocHint)>;
using PieceSender = std::function<bool(const struct iovec* pieces, int count)>;

// Every fragment but the last carries a multiple of eight bytes, so no NDR
// item's alignment depends on where a fragment starts; empty stub data still
// makes one fragment. False when a send failed.
bool SendFragmented(std::span<const BYTE> stub, USHORT maxFragment, const FragmentHeaderWriter& header,
                    const PieceSender& send);

} // namespace rpc
