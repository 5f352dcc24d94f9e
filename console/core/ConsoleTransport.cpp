#include "console/core/ConsoleTransport.h"

#include "console/core/ServerIdentity.h"

HRESULT CConsoleTransport::Create(std::unique_ptr<CConsoleTransport>* out)
{
    if (out == nullptr)
        return E_POINTER;
    std::unique_ptr<ClientTransport> transport;
    const HRESULT hr = CreateClientTransport(&transport);
    if (FAILED(hr))
        return hr;
    if (!transport)
        return REGDB_E_CLASSNOTREG;
    out->reset(new CConsoleTransport(std::move(transport)));
    return S_OK;
}

CConsoleTransport::CConsoleTransport(std::unique_ptr<ClientTransport> transport) : transport_(std::move(transport)) {}

HRESULT CConsoleTransport::Connect(const char* binding, DWORD length)
{
    return transport_->Connect(binding, length);
}

HRESULT CConsoleTransport::GetComputerList(CTransportComputerList** list)
{
    if (list == nullptr)
        return E_POINTER;
    if (!list_)
        list_ = std::make_unique<CTransportComputerList>(*transport_, ReadServerIdentity().value_or(GUID_NULL));
    *list = list_.get();
    return S_OK;
}
