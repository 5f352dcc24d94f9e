#pragma once
// Bounds-checked reading of NDR data (and of packet bodies, which follow the
// same rules): integers in the sender's byte order, alignment relative to the
// start of the data. A read past the end marks the reader failed and yields
// zeros, so a parser reads on and checks Ok() once.

#include "platform/rpc/RpcProtocol.h"

#include <cstddef>
#include <span>

class CNdrReader {
public:
    CNdrReader(std::span<const BYTE> data, bool bigEndian) : data_(data), bigEndian_(bigEndian) {}
    CNdrReader(std::span<const BYTE> data, const rpc::DataRep& rep) : CNdrReader(data, rep.BigEndian()) {}

    bool Ok() const { return ok_; }
    void Fail() { ok_ = false; }
    size_t Position() const { return pos_; }
    size_t Remaining() const { return ok_ ? data_.size() - pos_ : 0; }
    bool BigEndian() const { return bigEndian_; }

    void Seek(size_t pos);
    void Skip(size_t n);
    // Moves to the next multiple of n (a power of two) from the start.
    void Align(size_t n);

    BYTE U8();
    USHORT U16();
    ULONG U32();
    LONG Long() { return static_cast<LONG>(U32()); }
    GUID Uuid();
    // A syntax identifier: UUID, then a 32-bit version with the major number
    // in its low half.
    rpc::SyntaxId Syntax();
    // The next n bytes in place; empty (and failed) when fewer remain.
    std::span<const BYTE> Bytes(size_t n);

private:
    const BYTE* Take(size_t n);

    std::span<const BYTE> data_;
    size_t pos_ = 0;
    bool bigEndian_;
    bool ok_ = true;
};
