// Hands arbitrary call records to the computer-list handlers over a real
// database.
#include "server/dispatch/CLInvokeImpl.h"
#include "tests/fuzz/ListDispatchFuzzTarget.h"

namespace {

using Target = ListDispatchFuzzTarget<CCLInvokeImpl>;

Target& TheTarget()
{
    static Target* target = new Target(
        "fuzz_cl_XXXXXX", [](CCLInvokeImpl& handlers, IFileIO2* files) { handlers.SetUp(nullptr, files); }, 4001,
        "complist.fdb");
    return *target;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    TheTarget().Call(
        data, size,
        // Codes of the handlers' range, but neither opening nor copying files.
        [](DWORD code) { return 4003 + code % 36; },
        [](CInvokeData& record, DWORD code, size_t index, const InvokeItem& item) {
            // A priority would start deliveries that wait 30 s between attempts.
            if (code == 4014 && index == 5)
                record.PushInDword(0);
            else
                record.PushInBytes(item.data, item.length);
        });
    return 0;
}
