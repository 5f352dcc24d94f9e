#include "server/dispatch/SnapinRecord.h"

#include "platform/module/Module.h"
#include "platform/win/DebugOutput.h"
#include "platform/win/WinTypes.h"

SnapinRecord::SnapinRecord(HMODULE module, ISnapin* snapin, SnapinFunctionEntry* table, LONG count,
                           const std::string& name)
    : module_(module), snapin_(snapin), table_(table), count_(count), name_(name.substr(0, kNameCapacity)),
      unloaded_(unloadedPromise_.get_future().share())
{
}

SnapinRecord::~SnapinRecord()
{
    try {
        snapin_->Shutdown();
    } catch (...) {
        OutputDebugStringA("A snap-in threw from Shutdown\n");
    }
    if (module_ != nullptr)
        FreeLibrary(module_);
    unloadedPromise_.set_value();
}

bool SnapinRecord::HandlesCode(DWORD code) const
{
    for (LONG i = 0; i < count_; ++i)
        if (table_[i].functionCode == code)
            return true;
    return false;
}

bool SnapinRecord::AllowsAnyCaller(DWORD code) const
{
    for (LONG i = 0; i < count_; ++i)
        if (table_[i].functionCode == code && table_[i].flag == SNAPIN_ANY_CALLER)
            return true;
    return false;
}

HRESULT SnapinRecord::Load(const std::string& path, const std::string& name, ITQLog* log, IFileIO2* files,
                           std::shared_ptr<SnapinRecord>* record)
{
    HMODULE module = LoadLibraryA(path.c_str());
    if (module == nullptr)
        return E_FAIL;
    auto create = reinterpret_cast<CreateSnapinObjectFn>(GetProcAddress(module, kCreateSnapinObjectExport));
    if (create == nullptr) {
        FreeLibrary(module);
        return E_FAIL;
    }
    ISnapin* snapin = nullptr;
    HRESULT hr = create(&snapin);
    if (FAILED(hr) || snapin == nullptr) {
        FreeLibrary(module);
        return FAILED(hr) ? hr : E_FAIL;
    }
    SnapinFunctionEntry* table = nullptr;
    LONG count = 0;
    hr = snapin->GetFunctionTable(&table, &count);
    if (FAILED(hr)) {
        // The contract has no release: the object is left as it is.
        FreeLibrary(module);
        return hr;
    }
    if (table == nullptr)
        count = 0;
    snapin->Initialize(log, files);
    *record = std::make_shared<SnapinRecord>(module, snapin, table, count, name);
    return S_OK;
}
