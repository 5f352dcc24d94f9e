// Reads arbitrary pipe messages as log records (any process may write to a
// log pipe). Parsing never fails; no field holds a separator, the fields put
// back together with one "|" each read back the same, and the cells of a row
// are as many as the columns and hold no line break of their own making.
#include "console/core/ActivityRecord.h"

#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    const CActivityRecord record = CActivityRecord::Parse(text);
    std::string joined;
    for (size_t i = 1; i <= CActivityRecord::kFieldCount; ++i) {
        const std::string& field = record.Field(i);
        if (field.find('|') != std::string::npos || field.size() > text.size())
            std::abort();
        if (!field.empty())
            joined += (joined.empty() ? "" : "|") + field;
    }
    const CActivityRecord again = CActivityRecord::Parse(joined);
    for (size_t i = 1; i <= CActivityRecord::kFieldCount; ++i)
        if (again.Field(i) != record.Field(i))
            std::abort();
    for (bool extra : {false, true}) {
        const auto cells = record.Cells("d", "t", record.Field(4), extra);
        if (cells.size() + 1 != CActivityRecord::Headers(extra).size())
            std::abort();
        const std::string& result = cells[5];
        if (result.find('\n') != std::string::npos || result.find('\r') != std::string::npos)
            std::abort();
    }
    (void)record.IsShown();
    return 0;
}
