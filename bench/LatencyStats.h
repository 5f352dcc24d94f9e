#pragma once
// Durations of single operations, and the figures a benchmark prints from
// them: count, mean, percentiles.

#include <cstddef>
#include <vector>

namespace tqbench {

class LatencyStats {
public:
    void Add(double nanoseconds);
    void Merge(const LatencyStats& other);
    void Clear();

    size_t Count() const { return samples_.size(); }
    bool Empty() const { return samples_.empty(); }
    double Total() const { return total_; }
    double Mean() const;
    // Nearest rank: the smallest sample with at least p percent of all
    // samples at or below it (p in [0, 100]); 0 without samples.
    double Percentile(double p) const;
    double Median() const { return Percentile(50); }

private:
    void Sort() const;

    mutable std::vector<double> samples_;
    mutable bool sorted_ = true;
    double total_ = 0;
};

// The median of a few repeated figures (the mean of the middle two for an
// even count); 0 for none.
double MedianOf(std::vector<double> values);

} // namespace tqbench
