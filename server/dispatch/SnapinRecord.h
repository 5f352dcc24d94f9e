#pragma once
// One loaded snap-in of a virtual server. Routing threads hold a reference
// while they call into it; the last reference shuts the object down and
// unloads its library, so no call ever runs on an unloaded library.

#include "platform/module/Module.h"
#include "server/shared/Snapin.h"

#include <future>
#include <memory>
#include <string>

class SnapinRecord {
public:
    static constexpr size_t kNameCapacity = 49;

    SnapinRecord(HMODULE module, ISnapin* snapin, SnapinFunctionEntry* table, LONG count, const std::string& name);
    ~SnapinRecord();
    SnapinRecord(const SnapinRecord&) = delete;
    SnapinRecord& operator=(const SnapinRecord&) = delete;

    bool HandlesCode(DWORD code) const;
    bool AllowsAnyCaller(DWORD code) const;

    ISnapin* Object() const { return snapin_; }
    const std::string& Name() const { return name_; }
    // Ready once the object is shut down and its library unloaded.
    std::shared_future<void> Unloaded() const { return unloaded_; }

    // Loads a library, creates its object, takes its table and initialises it.
    // S_OK and the record, or the failing HRESULT (E_FAIL when the library or
    // its export is missing) with nothing left loaded.
    static HRESULT Load(const std::string& path, const std::string& name, ITQLog* log, IFileIO2* files,
                        std::shared_ptr<SnapinRecord>* record);

private:
    HMODULE module_;
    ISnapin* snapin_;
    SnapinFunctionEntry* table_;
    LONG count_;
    std::string name_;
    std::promise<void> unloadedPromise_;
    std::shared_future<void> unloaded_;
};
