#pragma once
// The command line of tqbench.

#include <set>
#include <string>
#include <vector>

namespace tqbench {

struct BenchOptions {
    bool quick = false;
    bool keep = false;   // leave the scratch folder for a look afterwards
    bool help = false;
    int repeat = 3;      // each figure is the median of this many runs
    double seconds = 1;  // length of one call-rate run
    std::set<std::string> sections{"rate", "store", "files", "load"};
    std::string binFolder;  // TQWL and tqwlsetup; "" for tqbench's own folder

    bool Has(const std::string& section) const { return sections.count(section) != 0; }

    // false with a reason for an argument that is not understood.
    static bool Parse(const std::vector<std::string>& args, BenchOptions* options, std::string* error);
    static const char* Usage();
};

} // namespace tqbench
