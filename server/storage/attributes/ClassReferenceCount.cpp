#include "server/storage/attributes/ClassReferenceCount.h"

#include "platform/win/DebugOutput.h"

#include <cstdio>

namespace {

// Constant-initialised, so they outlive every object whose destruction they count.
constinit ClassReferenceCount g_directories("CAttributeDirectory");
constinit ClassReferenceCount g_queries("CAttributeQuery");
constinit ClassReferenceCount g_attributes("CAttribute");
constinit ClassReferenceCount g_lists("CAttributeList");

ClassReferenceCount* const g_all[] = {&g_directories, &g_queries, &g_attributes, &g_lists};

struct ExitReport {
    ~ExitReport()
    {
        const std::string report = LiveAttributeObjectsReport();
        if (!report.empty())
            OutputDebugStringA(report.c_str());
    }
} g_exitReport;

} // namespace

ClassReferenceCount& ClassReferenceCountOf(AttributeClass which)
{
    return *g_all[static_cast<int>(which)];
}

LONG LiveAttributeObjects(AttributeClass which)
{
    return ClassReferenceCountOf(which).count.load();
}

std::string LiveAttributeObjectsReport()
{
    std::string report;
    for (const ClassReferenceCount* c : g_all) {
        const LONG n = c->count.load();
        if (n == 0)
            continue;
        char line[520];
        // Cut to the line buffer, as the debugger output takes it.
        if (std::snprintf(line, sizeof line, "%s: Reference Count = %d\n", c->name, static_cast<int>(n)) < 0)
            continue;
        report += line;
    }
    return report;
}
