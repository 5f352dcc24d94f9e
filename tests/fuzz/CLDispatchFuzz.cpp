// Hands arbitrary call records to the computer-list handlers over a real
// database: whatever a client sends, the handlers must answer without
// touching memory they do not own.
#include "server/dispatch/CLInvokeImpl.h"
#include "tests/server/storage/lists/ListsTestSupport.h"

#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

struct Target {
    std::string folder;
    liststest::FakeFiles* files = nullptr;
    CCLInvokeImpl handlers;

    Target()
    {
        char templ[] = "fuzz_cl_XXXXXX";
        folder = std::filesystem::absolute(::mkdtemp(templ)).string();
        files = new liststest::FakeFiles(folder);
        handlers.SetUp(nullptr, files);
        CInvokeData load(4001);
        load.PushInString("complist.fdb");
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
    // Codes of the handlers' range, but neither opening nor copying files.
    const DWORD code = 4003 + decoded.functionCode % 36;
    CInvokeData record(code);
    record.callerGuid = decoded.callerGuid;
    size_t index = 0;
    for (const InvokeItem& item : decoded.InItems()) {
        // A priority would start deliveries that wait 30 s between attempts.
        if (code == 4014 && index == 5) {
            record.PushInDword(0);
        } else {
            record.PushInBytes(item.data, item.length);
        }
        ++index;
    }
    target.handlers.Dispatch(&record);
    return 0;
}
