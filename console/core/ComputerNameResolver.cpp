#include "console/core/ComputerNameResolver.h"

#include "console/core/ConsoleTransport.h"
#include "console/core/ServerIdentity.h"
#include "platform/win/Guid.h"

#include <cstdio>
#include <cstring>
#include <strings.h>

CComputerNameResolver::CComputerNameResolver(DWORD port, const std::atomic<bool>* cancel)
    : port_(port), cancel_(cancel)
{
}

void CComputerNameResolver::ResolveComputerName(std::string& id)
{
    if (id == kNilId) {
        id = kLocalComputer;
        return;
    }
    if (auto it = cache_.find(id); it != cache_.end()) {
        id = it->second;
        return;
    }
    if (IsLocalId(id)) {
        id = kLocalComputer;
        return;
    }
    if (askedUntil_ && clock() < *askedUntil_)
        return;
    AskServer();
    askedUntil_ = clock() + kMissHold;
    if (auto it = cache_.find(id); it != cache_.end())
        id = it->second;
}

bool CComputerNameResolver::IsLocalId(const std::string& id)
{
    if (!identityRead_ || clock() >= *identityRead_ + kMissHold) {
        const auto identity = ReadServerIdentity();
        identity_ = identity ? UuidToString(*identity) : std::string();
        identityRead_ = clock();
    }
    if (identity_.empty() || ::strcasecmp(identity_.c_str(), id.c_str()) != 0)
        return false;
    cache_[identity_] = kLocalComputer;
    return true;
}

void CComputerNameResolver::AskServer()
{
    ++lookups_;
    std::unique_ptr<CConsoleTransport> transport;
    if (FAILED(CConsoleTransport::Create(&transport)))
        return;
    char binding[64];
    const int length = std::snprintf(binding, sizeof binding, "WINSERVER:127.0.0.1:%u", static_cast<unsigned>(port_));
    if (FAILED(transport->Connect(binding, static_cast<DWORD>(length))))
        return;
    CTransportComputerList* list = nullptr;
    if (FAILED(transport->GetComputerList(&list)))
        return;
    DWORD handle = 0;
    char name[kNameBuffer] = {};
    if (SUCCEEDED(list->OpenComputerEnum(&handle)) && SUCCEEDED(list->GetFirstComputer(handle, name, kNameBuffer))) {
        do {
            BYTE* data = nullptr;
            DWORD size = 0;
            const HRESULT hr = list->GetComputerInformation(name, kIdAppId, kIdItem, &data, &size);
            // S_FALSE is the store's "no such item", whose data is only its
            // "DBError" text: no id to remember.
            if (hr == S_OK && data != nullptr) {
                const char* text = reinterpret_cast<const char*>(data);
                const void* nul = std::memchr(text, '\0', size);
                const size_t used = nul != nullptr ? static_cast<size_t>(static_cast<const char*>(nul) - text) : size;
                cache_[std::string(text, used)] = name;
            }
            if (SUCCEEDED(hr) && data != nullptr)
                list->FreeComputerInformation(data);
        } while (!Cancelled() && SUCCEEDED(list->GetNextComputer(handle, name, kNameBuffer)));
    }
    list->CloseComputerEnum(handle);
}
