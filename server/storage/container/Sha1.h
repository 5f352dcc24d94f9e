#pragma once
// SHA-1 (FIPS 180-1), which guards container payloads against damage. It is
// a checksum here, not a secret: there is no key.

#include "platform/win/WinTypes.h"

#include <array>
#include <cstddef>

class CSha1 {
public:
    static constexpr std::size_t kDigestSize = 20;
    using Digest = std::array<BYTE, kDigestSize>;

    CSha1();
    void Update(const void* data, std::size_t size);
    // The digest of everything given so far; the object starts afresh.
    Digest Final();

    static Digest Of(const void* data, std::size_t size);

private:
    void Reset();
    void Block(const BYTE* block);

    std::array<DWORD, 5> state_{};
    std::array<BYTE, 64> pending_{};
    std::size_t pendingSize_ = 0;
    ULONGLONG totalBytes_ = 0;
};
