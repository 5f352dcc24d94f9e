#include "platform/transport/ClientTransport.h"

#include <mutex>

namespace {

HRESULT NoTransport(std::unique_ptr<ClientTransport>*)
{
    return REGDB_E_CLASSNOTREG;
}

std::mutex& FactoryMutex()
{
    static std::mutex m;
    return m;
}

ClientTransportFactory& CurrentFactory()
{
    static ClientTransportFactory factory = NoTransport;
    return factory;
}

} // namespace

HRESULT CreateClientTransport(std::unique_ptr<ClientTransport>* out)
{
    if (out == nullptr)
        return E_POINTER;
    out->reset();
    ClientTransportFactory factory;
    {
        std::lock_guard lock(FactoryMutex());
        factory = CurrentFactory();
    }
    HRESULT hr = factory(out);
    if (SUCCEEDED(hr) && !*out)
        hr = E_UNEXPECTED;
    if (FAILED(hr))
        out->reset();
    return hr;
}

ClientTransportFactory SetClientTransportFactory(ClientTransportFactory factory)
{
    std::lock_guard lock(FactoryMutex());
    ClientTransportFactory previous = CurrentFactory();
    CurrentFactory() = factory ? std::move(factory) : ClientTransportFactory(NoTransport);
    return previous;
}
