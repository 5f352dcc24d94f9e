#pragma once
// LZW with fixed 16-bit codes, written most significant bit first: codes 0
// to 255 are single bytes, 256 to 0xFFFE are assigned as strings are seen
// (the dictionary is never reset; once full it stays as it is), 0xFFFF ends
// the data and one 0 code follows it as padding.
//
// A coder is made for one Compress or one Expand; both start by Reset.

#include "platform/win/WinTypes.h"

#include <cstddef>
#include <memory>
#include <vector>

class CLzwCoder {
public:
    static constexpr int kTableSize = 85199; // a prime above the number of codes
    static constexpr DWORD kFirstCode = 256;
    static constexpr DWORD kLastCode = 0xFFFE;
    static constexpr DWORD kEndCode = 0xFFFF;
    // Deep enough for the longest string a dictionary can hold; a longer
    // chain is a prefix cycle, which only damaged data makes.
    static constexpr std::size_t kDecodeStackSize = 65536;
    static constexpr std::size_t kDefaultExpandLimit = 64u << 20;

    CLzwCoder();
    ~CLzwCoder();
    CLzwCoder(const CLzwCoder&) = delete;
    CLzwCoder& operator=(const CLzwCoder&) = delete;

    // Fresh tables (every code free), empty output, no pending bits.
    void Reset();
    // The coded length; the codes are in *out. An empty input codes to the
    // end code and its padding alone.
    std::size_t Compress(const BYTE* src, std::size_t n, std::unique_ptr<BYTE[]>* out);
    // The expanded length with the bytes in *out, or -1 with *out empty for
    // data that ends before its end code, holds a prefix cycle, or would
    // expand beyond limit bytes.
    long long Expand(const BYTE* src, std::size_t length, std::unique_ptr<BYTE[]>* out,
                     std::size_t limit = kDefaultExpandLimit);

    void PutCode(DWORD code);
    // The hash slot of the string prefix + c: the slot that holds it, or the
    // free slot where it belongs.
    int FindSlot(int prefix, BYTE c);
    // FindSlot calls since the last Reset.
    DWORD Probes() const { return probes_; }

private:
    bool GetCode(DWORD* code);
    // Pushes the bytes of code's string onto the decode stack, last byte first.
    bool Unwind(DWORD code, std::size_t* depth);
    std::size_t Hand(std::unique_ptr<BYTE[]>* out) const;

    std::vector<BYTE> output_;
    const BYTE* input_ = nullptr; // what Expand has still to read
    std::size_t inputLeft_ = 0;
    std::unique_ptr<int[]> codes_;
    std::unique_ptr<int[]> prefixes_;
    std::unique_ptr<BYTE[]> characters_;
    DWORD probes_ = 0;
    int bitCount_ = 0;
    DWORD bitBuffer_ = 0;
    std::unique_ptr<BYTE[]> stack_;
};
