#include "bench/BenchOptions.h"

#include <cstdlib>
#include <sstream>

namespace tqbench {

namespace {

const std::set<std::string> kSections{"rate", "store", "files", "load"};

bool ReadNumber(const std::string& text, double low, double high, double* value)
{
    if (text.empty())
        return false;
    char* end = nullptr;
    double v = std::strtod(text.c_str(), &end);
    if (end == text.c_str() || *end != '\0' || v < low || v > high)
        return false;
    *value = v;
    return true;
}

} // namespace

const char* BenchOptions::Usage()
{
    return "usage: tqbench [--quick] [--repeat N] [--seconds S] [--only rate,store,files,load] [--keep]\n"
           "               [--bin FOLDER]\n"
           "  --quick      fewer and shorter runs, lists up to 10,000 entries (well under a minute)\n"
           "  --repeat N   measure each figure N times and print the median (default 3; 1 with --quick)\n"
           "  --seconds S  length of one call-rate run (default 1; 0.3 with --quick)\n"
           "  --only LIST  run only these sections\n"
           "  --keep       keep the scratch folder (state root, storage folders, server output)\n"
           "  --bin DIR    folder of TQWL and tqwlsetup (default: tqbench's own folder)\n";
}

bool BenchOptions::Parse(const std::vector<std::string>& args, BenchOptions* options, std::string* error)
{
    BenchOptions o;
    bool repeatGiven = false, secondsGiven = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&](std::string* out) {
            if (i + 1 >= args.size()) {
                *error = a + " needs a value";
                return false;
            }
            *out = args[++i];
            return true;
        };
        std::string v;
        if (a == "--quick") {
            o.quick = true;
        } else if (a == "--keep") {
            o.keep = true;
        } else if (a == "--help" || a == "-h") {
            o.help = true;
        } else if (a == "--repeat") {
            double n = 0;
            if (!value(&v))
                return false;
            if (!ReadNumber(v, 1, 100, &n) || n != static_cast<int>(n)) {
                *error = "--repeat takes a whole number from 1 to 100, not " + v;
                return false;
            }
            o.repeat = static_cast<int>(n);
            repeatGiven = true;
        } else if (a == "--seconds") {
            if (!value(&v))
                return false;
            if (!ReadNumber(v, 0.05, 600, &o.seconds)) {
                *error = "--seconds takes a number from 0.05 to 600, not " + v;
                return false;
            }
            secondsGiven = true;
        } else if (a == "--only") {
            if (!value(&v))
                return false;
            o.sections.clear();
            std::istringstream list(v);
            std::string name;
            while (std::getline(list, name, ',')) {
                if (kSections.count(name) == 0) {
                    *error = "unknown section " + name + " (rate, store, files, load)";
                    return false;
                }
                o.sections.insert(name);
            }
            if (o.sections.empty()) {
                *error = "--only needs at least one section";
                return false;
            }
        } else if (a == "--bin") {
            if (!value(&o.binFolder))
                return false;
        } else {
            *error = "unknown argument " + a;
            return false;
        }
    }
    if (o.quick) {
        if (!repeatGiven)
            o.repeat = 1;
        if (!secondsGiven)
            o.seconds = 0.3;
    }
    *options = o;
    return true;
}

} // namespace tqbench
