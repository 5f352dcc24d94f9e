#include "console/core/ScmServiceController.h"

#include "common/Names.h"
#include "platform/scm/ServiceControl.h"
#include "platform/win/LastError.h"

namespace {

// Opens the service with the right and runs the request on it.
template <typename Request>
DWORD WithService(DWORD access, Request request)
{
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (manager == nullptr)
        return GetLastError();
    DWORD error = ERROR_SUCCESS;
    SC_HANDLE service = OpenServiceA(manager, tq::kServiceName, access);
    if (service == nullptr)
        error = GetLastError();
    else {
        if (!request(service))
            error = GetLastError();
        CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
    return error;
}

} // namespace

ServiceQuery CScmServiceController::Query()
{
    ServiceQuery query;
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (manager == nullptr)
        return query;
    if (SC_HANDLE service = OpenServiceA(manager, tq::kServiceName, SERVICE_QUERY_STATUS)) {
        SERVICE_STATUS status{};
        if (QueryServiceStatus(service, &status)) {
            query.outcome = ServiceQuery::Outcome::State;
            query.state = status.dwCurrentState;
        } else
            query.outcome = ServiceQuery::Outcome::QueryFailed;
        CloseServiceHandle(service);
    } else
        query.outcome = ServiceQuery::Outcome::NotInstalled;
    CloseServiceHandle(manager);
    return query;
}

DWORD CScmServiceController::Start()
{
    return WithService(SERVICE_START, [](SC_HANDLE service) { return StartServiceA(service, 0, nullptr); });
}

DWORD CScmServiceController::Stop()
{
    return WithService(SERVICE_STOP, [](SC_HANDLE service) {
        SERVICE_STATUS status{};
        return ControlService(service, SERVICE_CONTROL_STOP, &status);
    });
}
