#include "bench/ProcStatus.h"

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

namespace tqbench {

namespace {

// The number after "<name>:" at the start of a line.
bool Field(const std::string& line, const char* name, long* value)
{
    const size_t length = std::strlen(name);
    if (line.compare(0, length, name) != 0 || line.size() <= length || line[length] != ':')
        return false;
    const char* start = line.c_str() + length + 1;
    char* end = nullptr;
    long number = std::strtol(start, &end, 10);
    if (end == start)
        return false;
    *value = number;
    return true;
}

} // namespace

bool ProcStatus::Parse(const std::string& text, ProcStatus* status)
{
    *status = ProcStatus{};
    std::istringstream in(text);
    std::string line;
    bool any = false;
    while (std::getline(in, line))
        any |= Field(line, "VmRSS", &status->vmRssKb) || Field(line, "VmHWM", &status->vmHwmKb) ||
               Field(line, "Threads", &status->threads);
    return any;
}

bool ProcStatus::Read(pid_t pid, ProcStatus* status)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    if (!in)
        return false;
    std::ostringstream text;
    text << in.rdbuf();
    return Parse(text.str(), status);
}

} // namespace tqbench
