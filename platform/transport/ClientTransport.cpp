#include "platform/transport/ClientTransport.h"

#include "platform/transport/RpcClientTransport.h"

#include <mutex>

namespace {

HRESULT DefaultTransport(std::unique_ptr<ClientTransport>* out)
{
    return CRpcClientTransport::Create(out);
}

std::mutex& FactoryMutex()
{
    static std::mutex m;
    return m;
}

ClientTransportFactory& CurrentFactory()
{
    static ClientTransportFactory factory = DefaultTransport;
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
    CurrentFactory() = factory ? std::move(factory) : ClientTransportFactory(DefaultTransport);
    return previous;
}
