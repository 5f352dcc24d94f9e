#include "server/storage/container/Lzo1x.h"

#include "platform/win/LittleEndian.h"

#include <lzo/lzo1x.h>

#include <memory>

namespace {

constexpr std::size_t kPrefixSize = 4;

bool Started()
{
    static const bool started = lzo_init() == LZO_E_OK;
    return started;
}

} // namespace

HRESULT Lzo1xCompress(const BYTE* src, std::size_t n, std::vector<BYTE>* out)
{
    if (!Started())
        return E_FAIL;
    // The compressor's worst case for n bytes; each call has its own work
    // memory, so saves may run at the same time.
    out->assign(kPrefixSize + n + n / 16 + 64 + 3, 0);
    const auto work = std::make_unique<BYTE[]>(LZO1X_1_MEM_COMPRESS);
    for (std::size_t i = 0; i < kPrefixSize; ++i)
        (*out)[i] = static_cast<BYTE>(static_cast<DWORD>(n) >> (8 * i));
    lzo_uint written = 0;
    if (lzo1x_1_compress(src, n, out->data() + kPrefixSize, &written, work.get()) != LZO_E_OK)
        return E_FAIL;
    out->resize(kPrefixSize + written);
    return S_OK;
}

HRESULT Lzo1xExpand(const BYTE* payload, std::size_t length, std::size_t limit, std::vector<BYTE>* out)
{
    out->clear();
    if (!Started())
        return E_FAIL;
    if (length < kPrefixSize)
        return E_FAIL;
    const std::size_t expected = ReadLittleEndian32(payload);
    if (expected > limit)
        return E_FAIL;
    // One spare byte, so that output running past the expected length shows
    // as a wrong length rather than hiding behind a full buffer.
    std::vector<BYTE> bytes(expected + 1);
    lzo_uint produced = bytes.size();
    const int rc = lzo1x_decompress_safe(payload + kPrefixSize, length - kPrefixSize, bytes.data(), &produced, nullptr);
    if (rc != LZO_E_OK || produced != expected)
        return E_FAIL;
    bytes.resize(expected);
    *out = std::move(bytes);
    return S_OK;
}
