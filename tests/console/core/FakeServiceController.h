#pragma once
// A service that answers from fields the test sets, and logs each request.

#include "console/core/ServiceController.h"
#include "platform/scm/ServiceControl.h"

#include <functional>
#include <string>
#include <vector>

namespace consoletest {

class FakeServiceController : public IServiceController {
public:
    ServiceQuery Query() override
    {
        ++queries;
        if (onQuery)
            onQuery(*this);
        return query;
    }
    DWORD Start() override
    {
        log.push_back("start");
        if (startError == ERROR_SUCCESS)
            query = {ServiceQuery::Outcome::State, SERVICE_RUNNING};
        return startError;
    }
    DWORD Stop() override
    {
        log.push_back("stop");
        if (stopError == ERROR_SUCCESS)
            query = {ServiceQuery::Outcome::State, stopLeaves};
        return stopError;
    }

    ServiceQuery query{ServiceQuery::Outcome::State, SERVICE_STOPPED};
    DWORD startError = ERROR_SUCCESS;
    DWORD stopError = ERROR_SUCCESS;
    // The state a successful stop request leaves behind at first.
    DWORD stopLeaves = SERVICE_STOPPED;
    std::function<void(FakeServiceController&)> onQuery;
    std::vector<std::string> log;
    int queries = 0;
};

} // namespace consoletest
