#include "console/core/UpdateCheck.h"

#include "common/Names.h"
#include "console/core/AtoiText.h"
#include "console/core/RegistryValue.h"
#include "console/core/XmlDocumentWrapper.h"
#include "console/core/XmlNodeListWrapper.h"

#include <cstdlib>

namespace {

constexpr const char* kCaption = "Wardlake 7";
constexpr const char* kProductPath = "Product[@Name=\"Wardlake\" and @Version=\"6.5\"]";

bool IsHostCharacter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '-'
           || c == ':' || c == '[' || c == ']' || c == '_';
}

} // namespace

std::string BuildListAddress(const std::string& host)
{
    if (host.empty())
        return {};
    for (char c : host)
        if (!IsHostCharacter(c))
            return {};
    return "http://" + host + kBuildListPath;
}

std::string ConfiguredBuildListAddress()
{
    if (const char* host = std::getenv(kUpdateHostVariable); host && *host)
        return BuildListAddress(host);
    if (auto host = ReadRegistryString(HKEY_LOCAL_MACHINE, tq::kWardlakeKey, kUpdateHostValue); host && !host->empty())
        return BuildListAddress(*host);
    return BuildListAddress(kDefaultUpdateHost);
}

UpdateFinding ExamineBuildList(const CXmlDocumentWrapper& document, bool loaded)
{
    if (!loaded)
        return {UpdateVerdict::OpenFailed, {}};
    CXmlNodeWrapper root = document.AsNode();
    if (root.IsEmpty())
        return {UpdateVerdict::Invalid, {}};
    CXmlNodeListWrapper products = root.FindNodes(kProductPath);
    if (products.IsEmpty() || products.Length() == 0)
        return {UpdateVerdict::NotFound, {}};
    CXmlNodeWrapper product = products.GetNode(0);
    if (AtoiText(product.GetValue("Build")) <= kThisBuild)
        return {UpdateVerdict::NoUpdate, {}};
    // Only a web page is opened: the address comes from the network, and the
    // desktop would open anything else (a local file, a program) as well.
    std::string url = product.GetValue("DownloadURL");
    if (!IsWebAddress(url))
        return {UpdateVerdict::Invalid, {}};
    return {UpdateVerdict::UpdateAvailable, url};
}

void RunUpdateCheck(IPrompt& prompt, const std::string& address, const HttpLimits& limits,
                    const std::function<void()>& idle)
{
    UpdateFinding finding;
    {
        CXmlDocumentWrapper document;
        bool loaded = document.Load(address, limits);
        finding = ExamineBuildList(document, loaded);
    }
    if (idle)
        idle();
    switch (finding.verdict) {
    case UpdateVerdict::OpenFailed:
        prompt.Message(kUpdateOpenFailed, kCaption, PromptButtons::Ok, PromptIcon::Error);
        return;
    case UpdateVerdict::Invalid:
        prompt.Message(kUpdateInvalid, kCaption, PromptButtons::Ok, PromptIcon::Error);
        return;
    case UpdateVerdict::NotFound:
        prompt.Message(kUpdateNotFound, kCaption, PromptButtons::Ok, PromptIcon::Error);
        return;
    case UpdateVerdict::NoUpdate:
        prompt.Message(kUpdateNone, kCaption, PromptButtons::Ok, PromptIcon::Information);
        return;
    case UpdateVerdict::UpdateAvailable:
        if (prompt.Message(kUpdateAvailable, kCaption, PromptButtons::OkCancel, PromptIcon::Information)
            == PromptAnswer::Ok)
            prompt.OpenUrl(finding.downloadUrl);
        return;
    }
}

void RunUpdateCheck(IPrompt& prompt, const std::function<void()>& idle)
{
    RunUpdateCheck(prompt, ConfiguredBuildListAddress(), HttpLimits{}, idle);
}
