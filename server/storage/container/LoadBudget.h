#pragma once
// The memory that loads of attribute container files may hold at once in the
// process. Any client can write a container file and have the server load
// it, so loads larger than a small one take their share from here first, and
// wait for it when others hold it.

#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>

class CLoadBudget {
public:
    // Loads up to this size take nothing from the budget.
    static constexpr std::size_t kSmallLoad = 1u << 20;

    explicit CLoadBudget(std::size_t total) : total_(total) {}
    CLoadBudget(const CLoadBudget&) = delete;
    CLoadBudget& operator=(const CLoadBudget&) = delete;

    static CLoadBudget& Process();

    // A charge of n bytes, given back when the last copy of it goes; null
    // when n never fits or did not fit within waitMs.
    std::shared_ptr<const void> Take(std::size_t n, int waitMs);
    std::size_t InUse() const;

private:
    void Give(std::size_t n);

    mutable std::mutex lock_;
    std::condition_variable given_;
    std::size_t total_;
    std::size_t used_ = 0;
};
