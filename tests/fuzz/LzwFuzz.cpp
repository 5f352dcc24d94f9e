// Expands arbitrary bytes as an LZW code stream, within a bound, and codes
// the same bytes: their expansion must give them back.
#include "server/storage/container/LzwCoder.h"

#include <cstdlib>
#include <cstring>

namespace {

void Check(bool ok)
{
    if (!ok)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > (1u << 18))
        return 0;
    constexpr size_t kLimit = 1u << 22;
    CLzwCoder coder;
    std::unique_ptr<BYTE[]> out;
    const long long expanded = coder.Expand(data, size, &out, kLimit);
    Check(expanded < 0 ? out == nullptr : static_cast<size_t>(expanded) <= kLimit);

    std::unique_ptr<BYTE[]> coded;
    const size_t codedSize = coder.Compress(data, size, &coded);
    Check(codedSize == 0 || codedSize % 2 == 0);
    std::unique_ptr<BYTE[]> back;
    const long long backSize = coder.Expand(coded.get(), codedSize, &back);
    Check(backSize == static_cast<long long>(size));
    Check(size == 0 || std::memcmp(back.get(), data, size) == 0);
    return 0;
}
