#include "console/core/TransportComputerList.h"

#include <algorithm>
#include <cstring>

CTransportComputerList::CTransportComputerList(ClientTransport& transport, const GUID& caller)
    : transport_(transport), caller_(caller)
{
}

HRESULT CTransportComputerList::Invoke(CInvokeData& request, CInvokeData& reply)
{
    request.callerGuid = caller_;
    const DWORD size = request.GetEncodedSize(InvokeModeRequest);
    std::vector<BYTE> blob(size);
    if (request.Encode(blob.data(), static_cast<LONG>(size), InvokeModeRequest) < 0)
        return E_OUTOFMEMORY;
    BYTE* answer = nullptr;
    DWORD length = 0;
    const HRESULT hr = transport_.Call(blob.data(), size, &answer, &length);
    if (FAILED(hr))
        return hr;
    const bool decoded = answer != nullptr && reply.Decode(answer, length);
    transport_.FreeReply(answer);
    return decoded ? reply.result : E_UNEXPECTED;
}

std::vector<std::string> CTransportComputerList::SplitNames(const BYTE* data, DWORD length)
{
    std::vector<std::string> names;
    const char* at = reinterpret_cast<const char*>(data);
    const char* end = at + length;
    while (at < end) {
        const char* nul = static_cast<const char*>(std::memchr(at, '\0', static_cast<size_t>(end - at)));
        const char* stop = nul != nullptr ? nul : end;
        if (stop == at)
            break;
        names.emplace_back(at, stop);
        at = stop + 1;
    }
    return names;
}

HRESULT CTransportComputerList::OpenComputerEnum(DWORD* handle)
{
    if (handle == nullptr)
        return E_POINTER;
    CInvokeData request(kGetCompleteComputerList);
    CInvokeData reply;
    const HRESULT hr = Invoke(request, reply);
    if (FAILED(hr))
        return hr;
    BYTE* list = nullptr;
    DWORD length = 0;
    reply.PopOutBytes(&list, &length);
    Enumeration enumeration;
    enumeration.names = SplitNames(list, list != nullptr ? length : 0);
    delete[] list;
    *handle = nextHandle_++;
    enumerations_[*handle] = std::move(enumeration);
    return S_OK;
}

HRESULT CTransportComputerList::CopyNext(DWORD handle, char* name, DWORD size)
{
    auto it = enumerations_.find(handle);
    if (it == enumerations_.end())
        return E_INVALIDARG;
    if (name == nullptr || size == 0)
        return E_POINTER;
    Enumeration& e = it->second;
    if (e.next >= e.names.size())
        return HRESULT_FROM_WIN32(ERROR_NO_MORE_ITEMS);
    const std::string& next = e.names[e.next++];
    const size_t length = std::min<size_t>(next.size(), size - 1);
    std::memcpy(name, next.data(), length);
    name[length] = '\0';
    return S_OK;
}

HRESULT CTransportComputerList::GetFirstComputer(DWORD handle, char* name, DWORD size)
{
    auto it = enumerations_.find(handle);
    if (it != enumerations_.end())
        it->second.next = 0;
    return CopyNext(handle, name, size);
}

HRESULT CTransportComputerList::GetNextComputer(DWORD handle, char* name, DWORD size)
{
    return CopyNext(handle, name, size);
}

HRESULT CTransportComputerList::CloseComputerEnum(DWORD handle)
{
    return enumerations_.erase(handle) != 0 ? S_OK : E_INVALIDARG;
}

HRESULT CTransportComputerList::GetComputerInformation(const char* computer, DWORD appId, DWORD id, BYTE** data,
                                                       DWORD* size)
{
    if (computer == nullptr || data == nullptr || size == nullptr)
        return E_POINTER;
    *data = nullptr;
    *size = 0;
    CInvokeData request(kGetComputerInformation);
    request.PushInString(computer);
    request.PushInDword(appId);
    request.PushInDword(id);
    CInvokeData reply;
    const HRESULT hr = Invoke(request, reply);
    if (FAILED(hr))
        return hr;
    BYTE* bytes = nullptr;
    DWORD length = 0;
    reply.PopOutBytes(&bytes, &length);
    *data = bytes;
    *size = bytes != nullptr ? length : 0;
    return hr;
}

HRESULT CTransportComputerList::FreeComputerInformation(BYTE* data)
{
    delete[] data;
    return S_OK;
}
