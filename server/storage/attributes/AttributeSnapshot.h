#pragma once
// Handles on the attributes a walk shows, taken before anything is added, so
// copying a directory or list into itself ends.

#include "server/storage/attributes/Attribute.h"
#include "server/storage/attributes/AttributeDirectory.h"
#include "server/storage/attributes/AttributeGuard.h"
#include "server/storage/attributes/AttributeList.h"

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

// AddAttributeCopy into target (a directory or a list) of every attribute of
// the source; single failures, such as duplicates, are skipped.
template <typename Target>
HRESULT CopyAttributes(Target& target, CAttributeDirectory* source, BYTE unique)
{
    if (source == nullptr)
        return E_INVALIDARG;
    return Guarded([&]() -> HRESULT {
        const HandleSnapshot snapshot([&](CAttribute** a) { return source->GetFirstAttribute(a); },
                                      [&](CAttribute** a) { return source->GetNextAttribute(a); });
        for (CAttribute* a : snapshot.Handles())
            target.AddAttributeCopy(a, nullptr, unique);
        return S_OK;
    });
}

template <typename Target>
HRESULT CopyAttributes(Target& target, CAttributeList* source, BYTE unique)
{
    if (source == nullptr)
        return E_INVALIDARG;
    return Guarded([&]() -> HRESULT {
        const HandleSnapshot snapshot([&](CAttribute** a) { return source->GetFirst(a); },
                                      [&](CAttribute** a) { return source->GetNext(a); });
        for (CAttribute* a : snapshot.Handles())
            target.AddAttributeCopy(a, nullptr, unique);
        return S_OK;
    });
}

} // namespace attrib
