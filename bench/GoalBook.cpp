#include "bench/GoalBook.h"

#include "bench/Table.h"

namespace tqbench {

void GoalBook::AtLeast(const std::string& what, double value, double limit)
{
    goals_.push_back({what, FormatRatio(value) + " (goal >= " + FormatRatio(limit) + ")", value >= limit});
}

void GoalBook::AtMost(const std::string& what, double value, double limit)
{
    goals_.push_back({what, FormatRatio(value) + " (goal <= " + FormatRatio(limit) + ")", value <= limit});
}

void GoalBook::Holds(const std::string& what, bool holds, const std::string& detail)
{
    goals_.push_back({what, detail, holds});
}

bool GoalBook::AllMet() const
{
    for (const auto& g : goals_)
        if (!g.met)
            return false;
    return true;
}

std::string GoalBook::Render() const
{
    std::string out;
    for (const auto& g : goals_)
        out += std::string("  ") + (g.met ? "met     " : "MISSED  ") + g.what + ": " + g.detail + "\n";
    return out;
}

} // namespace tqbench
