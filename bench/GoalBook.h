#pragma once
// The goals a run is held to, each with the figure that meets or misses it,
// printed together at the end.

#include <string>
#include <vector>

namespace tqbench {

class GoalBook {
public:
    // A figure that must be at least the limit.
    void AtLeast(const std::string& what, double value, double limit);
    // A figure that must be at most the limit.
    void AtMost(const std::string& what, double value, double limit);
    // A condition that must hold (no call lost, ...).
    void Holds(const std::string& what, bool holds, const std::string& detail);

    bool AllMet() const;
    size_t Count() const { return goals_.size(); }
    std::string Render() const;

private:
    struct Goal {
        std::string what;
        std::string detail;
        bool met;
    };
    std::vector<Goal> goals_;
};

} // namespace tqbench
