#pragma once
// What the console asks of the server's service, reduced to three calls so
// that the commands built on them are tested without a service controller.

#include "platform/win/WinTypes.h"

struct ServiceQuery {
    enum class Outcome {
        State,        // state holds the service's current state
        NoManager,    // the service controller could not be opened
        NotInstalled, // the service could not be opened (whatever the error)
        QueryFailed,
    };
    Outcome outcome = Outcome::NoManager;
    DWORD state = 0;
};

class IServiceController {
public:
    virtual ~IServiceController() = default;

    virtual ServiceQuery Query() = 0;
    // Send the request and return at once: ERROR_SUCCESS, or the Win32 error
    // of the first step that failed.
    virtual DWORD Start() = 0;
    virtual DWORD Stop() = 0;
};
