#pragma once
// The update check: reads the maker's build list and offers the download page
// when a newer build than this one is listed.

#include "console/core/HttpFetch.h"
#include "console/core/Prompt.h"

#include <functional>
#include <string>

class CXmlDocumentWrapper;

inline constexpr int kThisBuild = 1410;
inline constexpr const char* kBuildListPath = "/products/builds.xml";
// Configuration of the build list's host: the environment variable wins over
// the value under the program's registry key, which wins over the maker's host.
inline constexpr const char* kUpdateHostVariable = "TQ_UPDATE_HOST";
inline constexpr const char* kUpdateHostValue = "UpdateHost";
inline constexpr const char* kDefaultUpdateHost = "www.tessaryquorle.com";

inline constexpr const char* kUpdateOpenFailed = "Unable to open the build information file on the server.";
inline constexpr const char* kUpdateInvalid = "The build information file is invalid.";
inline constexpr const char* kUpdateNotFound = "Unable to find Wardlake update information.";
inline constexpr const char* kUpdateNone = "There are no updates available at this time.";
inline constexpr const char* kUpdateAvailable = "An update is available.  Press OK to view the download page.";

enum class UpdateVerdict { OpenFailed, Invalid, NotFound, NoUpdate, UpdateAvailable };

struct UpdateFinding {
    UpdateVerdict verdict = UpdateVerdict::OpenFailed;
    std::string downloadUrl; // with UpdateAvailable: an http or https address
};

// The build list's address for a host ("name" or "name:port"); "" when the
// host holds anything else, so that configuration cannot reshape the address.
std::string BuildListAddress(const std::string& host);
// The configured host's build list address.
std::string ConfiguredBuildListAddress();

// What a loaded build list (loaded tells whether it loaded) says.
UpdateFinding ExamineBuildList(const CXmlDocumentWrapper& document, bool loaded);

// Fetches and examines the build list at address, then tells the user through
// prompt, opening the download page when the user agrees. idle runs once, when
// the waiting is over and before the first message.
void RunUpdateCheck(IPrompt& prompt, const std::string& address, const HttpLimits& limits,
                    const std::function<void()>& idle = {});
// The same against the configured host with the usual limits.
void RunUpdateCheck(IPrompt& prompt, const std::function<void()>& idle = {});
