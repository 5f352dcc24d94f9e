#pragma once
// The console's use of the client transport: reach a virtual server of this
// machine and read its computer list. The console's calls present the
// machine's server identity as their caller (the nil GUID when there is
// none), so the server's log records of them resolve without a lookup.

#include "console/core/TransportComputerList.h"
#include "platform/transport/ClientTransport.h"

#include <memory>

class CConsoleTransport {
public:
    // Makes the transport through the current factory (REGDB_E_CLASSNOTREG
    // and the like when there is none).
    static HRESULT Create(std::unique_ptr<CConsoleTransport>* out);

    HRESULT Connect(const char* binding, DWORD length);
    // *list stays this object's and lives as long as it.
    HRESULT GetComputerList(CTransportComputerList** list);

private:
    explicit CConsoleTransport(std::unique_ptr<ClientTransport> transport);

    std::unique_ptr<ClientTransport> transport_;
    std::unique_ptr<CTransportComputerList> list_;
};
