#pragma once
// The computer list of a virtual server as the console reaches it through a
// client transport: an enumeration of the computer names (one call of the
// server's complete computer list, code 4028) and the reading of one
// information item (code 4011). Every call presents the caller GUID given.

#include "common/callrecord/InvokeData.h"
#include "platform/transport/ClientTransport.h"

#include <map>
#include <string>
#include <vector>

class CTransportComputerList {
public:
    static constexpr DWORD kGetComputerInformation = 4011;
    static constexpr DWORD kGetCompleteComputerList = 4028;

    CTransportComputerList(ClientTransport& transport, const GUID& caller);

    // *handle names a snapshot of the list, taken now.
    HRESULT OpenComputerEnum(DWORD* handle);
    // Names longer than size - 1 characters are cut. The end of the list
    // answers HRESULT_FROM_WIN32(ERROR_NO_MORE_ITEMS).
    HRESULT GetFirstComputer(DWORD handle, char* name, DWORD size);
    HRESULT GetNextComputer(DWORD handle, char* name, DWORD size);
    HRESULT CloseComputerEnum(DWORD handle);

    // The store's answer unchanged (S_FALSE for a missing item, with its
    // "DBError" text); *data is the caller's until FreeComputerInformation.
    HRESULT GetComputerInformation(const char* computer, DWORD appId, DWORD id, BYTE** data, DWORD* size);
    HRESULT FreeComputerInformation(BYTE* data);

    // The names of a flat list: each with its NUL, an empty name ends it.
    static std::vector<std::string> SplitNames(const BYTE* data, DWORD length);

private:
    struct Enumeration {
        std::vector<std::string> names;
        size_t next = 0;
    };
    // One call; the transport's failure, or the reply's result.
    HRESULT Invoke(CInvokeData& request, CInvokeData& reply);
    HRESULT CopyNext(DWORD handle, char* name, DWORD size);

    ClientTransport& transport_;
    GUID caller_;
    std::map<DWORD, Enumeration> enumerations_;
    DWORD nextHandle_ = 1;
};
