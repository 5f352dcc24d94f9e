#include "console/core/ServiceCommands.h"

#include "platform/scm/ServiceControl.h"
#include "platform/win/SystemMessage.h"

#include <chrono>
#include <thread>
#include <utility>

CServiceCommands::CServiceCommands(IServiceController& service, IPrompt& prompt, StatusLine statusLine, Sleep sleep)
    : service_(service), prompt_(prompt), statusLine_(std::move(statusLine)), sleep_(std::move(sleep))
{
    if (!sleep_)
        sleep_ = [](int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); };
}

std::string CServiceCommands::StatusText(const ServiceQuery& query)
{
    switch (query.outcome) {
    case ServiceQuery::Outcome::NotInstalled: return "Service Not Installed";
    case ServiceQuery::Outcome::NoManager:
    case ServiceQuery::Outcome::QueryFailed: return "Unknown";
    case ServiceQuery::Outcome::State: break;
    }
    switch (query.state) {
    case SERVICE_STOPPED: return "Stopped";
    case SERVICE_START_PENDING: return "Start Pending";
    case SERVICE_STOP_PENDING: return "Stop Pending";
    case SERVICE_RUNNING: return "Running";
    case SERVICE_CONTINUE_PENDING: return "Continue Pending";
    case SERVICE_PAUSE_PENDING: return "Pause Pending";
    case SERVICE_PAUSED: return "Paused";
    default: return "Unknown";
    }
}

std::string CServiceCommands::ErrorText(HRESULT hr)
{
    std::string text = GetSystemMessageText(static_cast<DWORD>(hr));
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    return text.empty() ? kUnknownError : text;
}

void CServiceCommands::SetStatusLine(const std::string& text) const
{
    if (statusLine_)
        statusLine_(text);
}

void CServiceCommands::UpdateServiceStatus()
{
    SetStatusLine(kStatusPrefix + StatusText(service_.Query()));
}

HRESULT CServiceCommands::StartServerService()
{
    SetStatusLine(kStarting);
    return HRESULT_FROM_WIN32(service_.Start());
}

HRESULT CServiceCommands::StopServerService()
{
    SetStatusLine(kStopping);
    return HRESULT_FROM_WIN32(service_.Stop());
}

void CServiceCommands::ShowError(const char* prefix, HRESULT hr)
{
    prompt_.Message(prefix + ErrorText(hr), kCaption, PromptButtons::Ok, PromptIcon::Error);
}

void CServiceCommands::OnStartService()
{
    if (HRESULT hr = StartServerService(); FAILED(hr))
        ShowError(kStartError, hr);
}

void CServiceCommands::OnStopService()
{
    if (HRESULT hr = StopServerService(); FAILED(hr))
        ShowError(kStopError, hr);
}

bool CServiceCommands::WaitUntilStopped()
{
    for (int poll = 0; poll < kStopPolls; ++poll) {
        ServiceQuery query = service_.Query();
        // Without a service (or a way to ask) there is nothing to wait for.
        if (query.outcome != ServiceQuery::Outcome::State || query.state == SERVICE_STOPPED)
            return true;
        sleep_(kStopPollMs);
    }
    return false;
}

bool CServiceCommands::WaitUntilStopped(HRESULT stopResult)
{
    if (FAILED(stopResult)) {
        ServiceQuery query = service_.Query();
        if (query.outcome != ServiceQuery::Outcome::State || query.state != SERVICE_STOP_PENDING)
            return query.outcome != ServiceQuery::Outcome::State || query.state == SERVICE_STOPPED;
    }
    return WaitUntilStopped();
}
