#include "server/storage/container/LzwCoder.h"

#include <algorithm>
#include <cstring>

CLzwCoder::CLzwCoder() = default;
CLzwCoder::~CLzwCoder() = default;

void CLzwCoder::Reset()
{
    codes_ = std::make_unique<int[]>(kTableSize);
    std::fill_n(codes_.get(), kTableSize, -1);
    prefixes_ = std::make_unique<int[]>(kTableSize);
    characters_ = std::make_unique<BYTE[]>(kTableSize);
    stack_ = std::make_unique<BYTE[]>(kDecodeStackSize);
    output_.clear();
    input_ = nullptr;
    inputLeft_ = 0;
    probes_ = 0;
    bitCount_ = 0;
    bitBuffer_ = 0;
}

int CLzwCoder::FindSlot(int prefix, BYTE c)
{
    ++probes_;
    int index = (static_cast<int>(c) << 8) ^ prefix;
    const int offset = index == 0 ? 1 : kTableSize - index;
    // The table size is prime and never more than three quarters full, so
    // the walk reaches a free slot.
    for (;;) {
        if (codes_[index] == -1)
            return index;
        if (prefixes_[index] == prefix && characters_[index] == c)
            return index;
        index -= offset;
        if (index < 0)
            index += kTableSize;
    }
}

void CLzwCoder::PutCode(DWORD code)
{
    bitBuffer_ |= code << (16 - bitCount_);
    bitCount_ += 16;
    while (bitCount_ >= 8) {
        output_.push_back(static_cast<BYTE>(bitBuffer_ >> 24));
        bitBuffer_ <<= 8;
        bitCount_ -= 8;
    }
}

std::size_t CLzwCoder::Hand(std::unique_ptr<BYTE[]>* out) const
{
    *out = std::make_unique<BYTE[]>(std::max<std::size_t>(output_.size(), 1));
    std::copy(output_.begin(), output_.end(), out->get());
    return output_.size();
}

std::size_t CLzwCoder::Compress(const BYTE* src, std::size_t n, std::unique_ptr<BYTE[]>* out)
{
    Reset();
    if (n > 0) {
        DWORD next = kFirstCode;
        int string = src[0];
        for (std::size_t i = 1; i < n; ++i) {
            const BYTE c = src[i];
            const int slot = FindSlot(string, c);
            if (codes_[slot] != -1) {
                string = codes_[slot];
                continue;
            }
            if (next <= kLastCode) {
                codes_[slot] = static_cast<int>(next++);
                prefixes_[slot] = string;
                characters_[slot] = c;
            }
            PutCode(static_cast<DWORD>(string));
            string = c;
        }
        PutCode(static_cast<DWORD>(string));
    }
    PutCode(kEndCode);
    PutCode(0);
    return Hand(out);
}

bool CLzwCoder::GetCode(DWORD* code)
{
    while (bitCount_ <= 24 && inputLeft_ > 0) {
        bitBuffer_ |= static_cast<DWORD>(*input_++) << (24 - bitCount_);
        --inputLeft_;
        bitCount_ += 8;
    }
    if (bitCount_ < 16)
        return false; // the data ended before its end code
    *code = bitBuffer_ >> 16;
    bitBuffer_ <<= 16;
    bitCount_ -= 16;
    return true;
}

bool CLzwCoder::Unwind(DWORD code, std::size_t* depth)
{
    while (code > 255) {
        if (*depth >= kDecodeStackSize)
            return false;
        stack_[(*depth)++] = characters_[code];
        code = static_cast<DWORD>(prefixes_[code]);
    }
    if (*depth >= kDecodeStackSize)
        return false;
    stack_[(*depth)++] = static_cast<BYTE>(code);
    return true;
}

long long CLzwCoder::Expand(const BYTE* src, std::size_t length, std::unique_ptr<BYTE[]>* out, std::size_t limit)
{
    Reset();
    out->reset();
    input_ = src;
    inputLeft_ = length;

    DWORD old = 0;
    if (!GetCode(&old))
        return -1;
    if (old != kEndCode) {
        if (limit < 1)
            return -1;
        BYTE character = static_cast<BYTE>(old);
        output_.push_back(character);
        DWORD next = kFirstCode;
        for (;;) {
            DWORD code = 0;
            if (!GetCode(&code))
                return -1;
            if (code == kEndCode)
                break;
            std::size_t depth = 0;
            if (code < next) {
                if (!Unwind(code, &depth))
                    return -1;
            } else {
                // The code the coder assigned just before it used it
                // (or a code not yet assigned at all).
                stack_[depth++] = character;
                if (!Unwind(old, &depth))
                    return -1;
            }
            character = stack_[depth - 1];
            if (depth > limit - output_.size())
                return -1;
            for (std::size_t i = depth; i > 0; --i)
                output_.push_back(stack_[i - 1]);
            if (next <= kLastCode) {
                prefixes_[next] = static_cast<int>(old);
                characters_[next] = character;
                ++next;
            }
            old = code;
        }
    }
    return static_cast<long long>(Hand(out));
}
