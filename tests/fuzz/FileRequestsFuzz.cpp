// Runs arbitrary call records through the file handlers over a scratch
// storage folder. Whatever the names and sizes, nothing may appear, change
// or vanish outside the folder, and every handle a call hands out is closed
// again so that runs do not pile up descriptors.
#include "server/dispatch/WinFileImpl.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

struct Scratch {
    std::filesystem::path root;
    std::filesystem::path store;
    CWinFileImpl files;

    Scratch()
    {
        std::string templ = (std::filesystem::temp_directory_path() / "tqfuzz-XXXXXX").string();
        if (::mkdtemp(templ.data()) == nullptr)
            std::abort();
        root = templ;
        store = root / "store";
        std::filesystem::create_directory(store);
        std::ofstream(root / "canary") << "canary";
        files.SetFolder(nullptr, store.c_str());
    }
    ~Scratch() { std::filesystem::remove_all(root); }
};

Scratch& TheScratch()
{
    static Scratch scratch;
    return scratch;
}

DWORD FirstDword(const InvokeItem& item)
{
    DWORD v = 0;
    std::memcpy(&v, item.data, std::min<size_t>(item.length, 4));
    return v;
}

void CheckOutside(const Scratch& s)
{
    size_t entries = 0;
    for (const auto& e : std::filesystem::directory_iterator(s.root)) {
        (void)e;
        ++entries;
    }
    std::ifstream canary(s.root / "canary");
    std::string text;
    canary >> text;
    if (entries != 2 || text != "canary")
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Scratch& s = TheScratch();
    CInvokeData record;
    if (!record.Decode(data, size))
        return 0;
    if (record.functionCode < 1001 || record.functionCode > 1012)
        record.functionCode = 1001 + record.functionCode % 12;
    // A write pads with zeros up to the announced size; keep runs small.
    if (record.functionCode == 1003 && record.InCount() >= 2) {
        DWORD announced = FirstDword(record.InItems()[1]);
        if (announced > (1u << 20) && announced < 0x80000000u)
            return 0;
    }
    DWORD code = record.functionCode;
    HRESULT hr = s.files.Dispatch(&record);
    if (hr != S_OK && !(hr == E_UNEXPECTED && (code == 1002 || code == 1003)))
        std::abort();
    if ((code == 1001 || code == 1008) && record.OutCount() >= 1) {
        auto handle = static_cast<LONG>(FirstDword(record.OutItems()[0]));
        if (code == 1001)
            s.files.CloseFile(handle);
        else
            s.files.FindClose(handle);
    }
    CheckOutside(s);
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(s.store, ec))
        std::filesystem::remove_all(e.path(), ec);
    return 0;
}
