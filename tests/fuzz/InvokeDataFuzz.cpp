// Decodes arbitrary blobs as call records; a decoded record must encode back
// to a blob that decodes to the same record, and a record that borrows its
// large items from the blob must be the same as one that copies them.
#include "common/callrecord/InvokeData.h"

#include <cstdlib>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    CInvokeData record;
    if (!record.Decode(data, size))
        return 0;
    for (DWORD mode : {InvokeModeRequest, InvokeModeReply, InvokeModeBoth}) {
        std::vector<BYTE> blob(record.GetEncodedSize(mode));
        if (record.Encode(blob.data(), static_cast<LONG>(blob.size()), mode) != static_cast<LONG>(blob.size()))
            std::abort();
        CInvokeData again;
        if (!again.Decode(blob.data(), blob.size()))
            std::abort();
        std::vector<BYTE> blob2(again.GetEncodedSize(mode));
        again.Encode(blob2.data(), static_cast<LONG>(blob2.size()), mode);
        if (blob != blob2)
            std::abort();
    }
    CInvokeData borrowing;
    if (!borrowing.Decode(data, size, true))
        std::abort();
    for (DWORD mode : {InvokeModeRequest, InvokeModeReply, InvokeModeBoth}) {
        std::vector<BYTE> copied(record.GetEncodedSize(mode));
        record.Encode(copied.data(), static_cast<LONG>(copied.size()), mode);
        std::vector<BYTE> borrowed(borrowing.GetEncodedSize(mode));
        borrowing.Encode(borrowed.data(), static_cast<LONG>(borrowed.size()), mode);
        if (copied != borrowed)
            std::abort();
    }
    // Items popped alternately with and without a target, borrowed or not.
    for (bool keep = false;; keep = !keep) {
        const BYTE* seen = nullptr;
        DWORD seenLength = 0;
        borrowing.PeekBytes(&seen, &seenLength);
        // A peek is valid only until the pop.
        const std::vector<BYTE> expected(seen, seen + (seen == nullptr ? 0 : seenLength));
        BYTE* taken = nullptr;
        DWORD length = 0;
        if (borrowing.PopBytes(keep ? &taken : nullptr, &length) < 0)
            break;
        if (length != seenLength || (taken != nullptr && std::memcmp(taken, expected.data(), length) != 0))
            std::abort();
        delete[] taken;
    }
    char text[260];
    while (record.PopString(text, sizeof text) >= 0) {
    }
    return 0;
}
