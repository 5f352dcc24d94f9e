// Hands arbitrary call records to the user-list handlers over a real
// database.
#include "server/dispatch/ULInvokeImpl.h"
#include "server/shared/UserList.h"
#include "tests/fuzz/ListDispatchFuzzTarget.h"

namespace {

using Target = ListDispatchFuzzTarget<CULInvokeImpl>;

Target& TheTarget()
{
    // Without directory-server settings: browsing stays on this machine.
    static Target* target = new Target(
        "fuzz_ul_XXXXXX",
        [](CULInvokeImpl& handlers, IFileIO2* files) {
            handlers.SetUp(nullptr, files, kUserListNoDirectory | kUserListKeepOpen);
        },
        2001, "userlist.fdb");
    return *target;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // The codes clients can send (2002 to 2033).
    TheTarget().Call(
        data, size, [](DWORD code) { return 2002 + code % 32; }, Target::PushAsItCame);
    return 0;
}
