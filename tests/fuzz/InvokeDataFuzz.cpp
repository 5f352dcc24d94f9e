// Decodes arbitrary blobs as call records; a decoded record must encode back
// to a blob that decodes to the same record.
#include "common/callrecord/InvokeData.h"

#include <cstdlib>
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
    char text[260];
    while (record.PopString(text, sizeof text) >= 0) {
    }
    return 0;
}
