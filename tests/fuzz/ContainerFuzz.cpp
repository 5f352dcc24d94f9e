// Loads arbitrary bytes as a container file from a storage folder in memory.
// What a load keeps must save under every flag set and load back the same;
// no handle may stay open and no attribute object alive. The same bytes as
// "settings.ad" must leave the settings codes answering, and a change must
// read back.
#include "server/dispatch/BaseWLImpl.h"
#include "server/storage/attributes/AttributeDirectory.h"
#include "server/storage/attributes/ClassReferenceCount.h"
#include "server/storage/container/DynIO.h"
#include "tests/server/storage/container/MemoryFileIO.h"

#include <cstdlib>
#include <vector>

namespace {

void Check(bool ok)
{
    if (!ok)
        std::abort();
}

std::vector<BYTE> StreamOf(CAttributeDirectory& dir)
{
    LONG size = 0;
    Check(SUCCEEDED(dir.GetSerializedSize(&size)));
    std::vector<BYTE> bytes(static_cast<size_t>(size));
    Check(dir.Serialize(bytes.data(), &size) == S_OK);
    return bytes;
}

void Settings(const uint8_t* data, size_t size)
{
    tqtest::MemoryFileIO mem;
    mem.files["settings.ad"].assign(data, data + size);
    CBaseWLImpl settings;
    settings.SetUp(nullptr, &mem);
    for (DWORD code : {2u, 4u}) {
        CInvokeData record(code);
        Check(settings.Dispatch(&record) == S_OK);
        Check(record.OutCount() == 1);
    }
    CInvokeData change(5);
    change.PushInDword(123456);
    Check(settings.Dispatch(&change) == S_OK);
    // A file may hold a sub-directory of the setting's name, which no
    // attribute can join; any other change must read back.
    if (change.result == S_OK) {
        CInvokeData read(4);
        Check(settings.Dispatch(&read) == S_OK && read.result == S_OK);
        LONG value = 0;
        read.PopOutInt(&value);
        Check((value & 0x0FFFFFFF) == 123456);
    } else {
        Check(change.result == E_FAIL);
    }
    Check(mem.OpenHandles() == 0);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > (1u << 20))
        return 0;
    {
        tqtest::MemoryFileIO mem;
        mem.files["x.ad"].assign(data, data + size);
        CDynIO io(&mem);
        CAttributeDirectory dir;
        const HRESULT loaded = io.Load("x.ad", &dir);
        Check(mem.OpenHandles() == 0);
        if (SUCCEEDED(loaded)) {
            const std::vector<BYTE> stream = StreamOf(dir);
            for (DWORD flags : {0u, 1u, 2u, 4u, 6u}) {
                Check(io.Save("y.ad", &dir, flags) == S_OK);
                CAttributeDirectory again;
                Check(io.Load("y.ad", &again) == S_OK);
                Check(StreamOf(again) == stream);
            }
        }
        Settings(data, size);
    }
    for (AttributeClass c : {AttributeClass::Directory, AttributeClass::Query, AttributeClass::Attribute,
                             AttributeClass::List})
        Check(LiveAttributeObjects(c) == 0);
    return 0;
}
