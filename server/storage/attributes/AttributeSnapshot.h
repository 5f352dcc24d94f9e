#pragma once
// Handles on the attributes a walk shows, taken before anything is added, so
// copying a directory or list into itself ends.

#include "server/storage/attributes/Attribute.h"

#include <vector>

namespace attrib {

class HandleSnapshot {
public:
    template <typename First, typename Next>
    HandleSnapshot(First first, Next next)
    {
        CAttribute* a = nullptr;
        for (HRESULT hr = first(&a); SUCCEEDED(hr) && a != nullptr; hr = next(&a)) {
            handles_.push_back(a);
            a = nullptr;
        }
    }
    ~HandleSnapshot()
    {
        for (CAttribute* a : handles_)
            a->Release();
    }
    HandleSnapshot(const HandleSnapshot&) = delete;
    HandleSnapshot& operator=(const HandleSnapshot&) = delete;

    const std::vector<CAttribute*>& Handles() const { return handles_; }

private:
    std::vector<CAttribute*> handles_;
};

} // namespace attrib
