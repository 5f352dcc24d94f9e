#include "bench/LatencyStats.h"

#include <algorithm>
#include <cmath>

namespace tqbench {

void LatencyStats::Add(double nanoseconds)
{
    if (!samples_.empty() && nanoseconds < samples_.back())
        sorted_ = false;
    samples_.push_back(nanoseconds);
    total_ += nanoseconds;
}

void LatencyStats::Merge(const LatencyStats& other)
{
    if (other.samples_.empty())
        return;
    samples_.insert(samples_.end(), other.samples_.begin(), other.samples_.end());
    sorted_ = false;
    total_ += other.total_;
}

void LatencyStats::Clear()
{
    samples_.clear();
    sorted_ = true;
    total_ = 0;
}

double LatencyStats::Mean() const
{
    return samples_.empty() ? 0 : total_ / static_cast<double>(samples_.size());
}

void LatencyStats::Sort() const
{
    if (!sorted_) {
        std::sort(samples_.begin(), samples_.end());
        sorted_ = true;
    }
}

double LatencyStats::Percentile(double p) const
{
    if (samples_.empty())
        return 0;
    Sort();
    p = std::clamp(p, 0.0, 100.0);
    const double n = static_cast<double>(samples_.size());
    // Rank 1 is the smallest; p = 0 gives it too. The small allowance keeps
    // a product such as 99.9 * 1000 from rounding up past a whole rank.
    auto rank = static_cast<size_t>(std::ceil(p * n / 100.0 - 1e-9));
    if (rank == 0)
        rank = 1;
    return samples_[std::min(rank, samples_.size()) - 1];
}

double MedianOf(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const size_t mid = values.size() / 2;
    return values.size() % 2 == 1 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
}

} // namespace tqbench
