#pragma once
// Translation between the runtime's status codes and the fault codes that
// travel in fault PDUs. Statuses without a protocol code of their own travel
// as they are, which is what peers do with Win32 codes.

#include "platform/win/WinTypes.h"

// The wire code for a status a call failed with; RPC_S_OK (a fault without a
// cause) becomes the unspecified fault.
ULONG RpcStatusToFaultCode(RPC_STATUS status);

// The status a client reports for a fault code it received.
RPC_STATUS RpcFaultCodeToStatus(ULONG code);
