// Reads arbitrary bytes as the update check's build list. Whatever it says,
// an offered download must be a web address.
#include "console/core/HttpFetch.h"
#include "console/core/UpdateCheck.h"
#include "console/core/XmlDocumentWrapper.h"

#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    CXmlDocumentWrapper document;
    bool loaded = document.LoadText(std::string_view(reinterpret_cast<const char*>(data), size));
    UpdateFinding finding = ExamineBuildList(document, loaded);
    if (!loaded && finding.verdict != UpdateVerdict::OpenFailed)
        std::abort();
    if (finding.verdict == UpdateVerdict::UpdateAvailable && !IsWebAddress(finding.downloadUrl))
        std::abort();
    if (finding.verdict != UpdateVerdict::UpdateAvailable && !finding.downloadUrl.empty())
        std::abort();
    return 0;
}
