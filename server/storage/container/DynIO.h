#pragma once
// Reads and writes attribute container files (".ad") in a storage folder.
//
// A container file is a 56-byte header (the layout of an attribute record
// header, little-endian), an optional SHA-1 digest and the payload:
//   0, 4  digest length (20 or 0; the reader takes the copy at 4)
//   12    container version 1      28  container flags applied
//   32,36 payload length, stored length (equal)
//   44    1                        48  save time, FILETIME UTC
// The payload is the directory's record stream, its LZW code stream
// (CONTAINER_LZW), or a u32 length and its LZO1X-1 form (CONTAINER_LZO1X).
// The digest covers the 8 time bytes and the stored payload. A file whose
// word at 12 is not 1 is read as a bare record stream, which 56 zero bytes
// may end early.
//
// Files and expanded payloads are bounded by kMaxContainerBytes: a load
// refuses anything larger before allocating for it, and a save refuses to
// write a file that a load would refuse.

#include "server/shared/FileIO.h"
#include "server/storage/attributes/AttributeDirectory.h"

#include <cstddef>
#include <vector>

constexpr DWORD CONTAINER_LZW = 1;
constexpr DWORD CONTAINER_SHA1 = 2;
constexpr DWORD CONTAINER_LZO1X = 4;

class CDynIO {
public:
    static constexpr std::size_t kHeaderSize = 56;
    static constexpr DWORD kVersion = 1;
    static constexpr std::size_t kMaxContainerBytes = 64u << 20;
    // What the records of one load may take in all (see
    // CAttributeDirectory::LoadCost); a file whose nesting would take more
    // is refused with HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE) before any of
    // it is copied. Loads of the process together hold at most what
    // CLoadBudget allows; one that finds it spent waits, then fails with
    // E_OUTOFMEMORY.
    static constexpr std::size_t kMaxLoadBytes = 128u << 20;

    explicit CDynIO(IFileIO* files = nullptr) : files_(files) {}
    virtual ~CDynIO() = default;

    void SetFileIO(IFileIO* files) { files_ = files; }

    // Clears the directory and fills it from the file. A file shorter than a
    // header loads as empty. Failures: the IFileIO failure of open, size or
    // read; HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE) for a file above the
    // bound; STG_E_PROPSETMISMATCHED for a file shorter than its header says
    // or a bare stream whose records do not end at its end;
    // SEC_E_MESSAGE_ALTERED for a digest that does not match (or cannot be
    // checked); E_FAIL for a payload that does not expand to its stated
    // length; else what the directory's LoadFromBuffer gives. After a failure
    // the directory is empty or holds the records read before the damage.
    HRESULT Load(const char* name, CAttributeDirectory* directory);

    // Writes the directory with the given CONTAINER_ flags (LZW and LZO1X
    // exclude each other: E_INVALIDARG, nothing written). An LZO1X form that
    // is not shorter is not used and its flag is cleared in the file.
    HRESULT Save(const char* name, CAttributeDirectory* directory, DWORD flags);

    // Replaces the file with the bytes through the file layer's whole-file
    // write, which the server's layer does atomically; its result.
    HRESULT WriteFile(const char* name, const BYTE* bytes, DWORD length);

private:
    HRESULT ReadAll(const char* name, std::vector<BYTE>* bytes);

    IFileIO* files_;
};
