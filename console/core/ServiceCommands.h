#pragma once
// The console's commands on the server's service: the status line, Service >
// Start and Stop with their error boxes, and the stop and start around a save.
// The status line is whatever the window shows it in.

#include "console/core/Prompt.h"
#include "console/core/ServiceController.h"

#include <functional>
#include <string>

class CServiceCommands {
public:
    using StatusLine = std::function<void(const std::string&)>;
    using Sleep = std::function<void(int milliseconds)>;

    static constexpr const char* kCaption = "Wardlake 7";
    static constexpr const char* kStatusPrefix = "Service Status: ";
    static constexpr const char* kStarting = "Starting service...";
    static constexpr const char* kStopping = "Stopping service...";
    static constexpr const char* kStartError = "Error starting service: ";
    static constexpr const char* kStopError = "Error stopping service: ";
    static constexpr const char* kUnknownError = "Unknown error";
    // How long a save waits for the service to stop, as the server's own restart switch does.
    static constexpr int kStopPolls = 600;
    static constexpr int kStopPollMs = 100;

    // sleep defaults to a plain sleep of the calling thread.
    CServiceCommands(IServiceController& service, IPrompt& prompt, StatusLine statusLine, Sleep sleep = {});

    // "Stopped", "Running", ..., "Unknown" or "Service Not Installed".
    static std::string StatusText(const ServiceQuery& query);
    // The error's system text without its line end, "Unknown error" when there is none.
    static std::string ErrorText(HRESULT hr);

    // Writes "Service Status: " and the service's state into the status line.
    void UpdateServiceStatus();
    // Write their progress text into the status line, send the request and
    // return without waiting: S_OK or the failure as an HRESULT.
    HRESULT StartServerService();
    HRESULT StopServerService();
    // Service > Start and Stop: a failure is shown in an error box.
    void OnStartService();
    void OnStopService();

    // Polls until the service has stopped (true, also when there is no
    // service to wait for) or the polls are used up (false).
    bool WaitUntilStopped();
    // The same after a stop request with this result: a refused request is
    // waited for only while the service is stopping anyway, since a service
    // that is starting or running would never stop.
    bool WaitUntilStopped(HRESULT stopResult);

    void SetStatusLine(const std::string& text) const;

private:
    void ShowError(const char* prefix, HRESULT hr);

    IServiceController& service_;
    IPrompt& prompt_;
    StatusLine statusLine_;
    Sleep sleep_;
};
