#pragma once
// The server's service "TQWL" on this machine, through the service
// controller. Each call opens and closes its own handles.

#include "console/core/ServiceController.h"

class CScmServiceController : public IServiceController {
public:
    ServiceQuery Query() override;
    DWORD Start() override;
    DWORD Stop() override;
};
