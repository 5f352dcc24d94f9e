// Hands arbitrary call records to the user-list handlers over a real
// database: whatever a client sends, the handlers must answer without
// touching memory they do not own.
#include "server/dispatch/ULInvokeImpl.h"
#include "server/storage/lists/UserList.h"
#include "tests/server/storage/lists/ListsTestSupport.h"

#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace {

struct Target {
    std::string folder;
    liststest::FakeFiles* files = nullptr;
    CULInvokeImpl handlers;

    Target()
    {
        char templ[] = "fuzz_ul_XXXXXX";
        folder = std::filesystem::absolute(::mkdtemp(templ)).string();
        files = new liststest::FakeFiles(folder);
        // Without directory-server settings: browsing stays on this machine.
        handlers.SetUp(nullptr, files, kUserListNoDirectory | kUserListKeepOpen);
        CInvokeData load(2001);
        load.PushInString("userlist.fdb");
        handlers.Dispatch(&load);
        std::atexit([] {
            std::error_code ec;
            std::filesystem::remove_all(Get().folder, ec);
        });
    }
    static Target& Get()
    {
        static Target* t = new Target();
        return *t;
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Target& target = Target::Get();
    CInvokeData decoded;
    if (!decoded.Decode(data, size))
        return 0;
    // The codes clients can send (2002 to 2033).
    CInvokeData record(2002 + decoded.functionCode % 32);
    record.callerGuid = decoded.callerGuid;
    for (const InvokeItem& item : decoded.InItems())
        record.PushInBytes(item.data, item.length);
    target.handlers.Dispatch(&record);
    return 0;
}
