#pragma once
// LZO1X-1 payloads of container files: a u32 little-endian length of the
// original bytes, then the compressed bytes.

#include "platform/win/WinTypes.h"

#include <cstddef>
#include <vector>

// The prefixed form of src in *out. E_FAIL when the library cannot start or
// the compressor fails.
HRESULT Lzo1xCompress(const BYTE* src, std::size_t n, std::vector<BYTE>* out);

// The original bytes of a prefixed payload. E_FAIL when the payload is
// shorter than its prefix, names more than limit bytes, does not decompress,
// or decompresses to another length than its prefix names.
HRESULT Lzo1xExpand(const BYTE* payload, std::size_t length, std::size_t limit, std::vector<BYTE>* out);
