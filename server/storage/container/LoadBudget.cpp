#include "server/storage/container/LoadBudget.h"

#include <chrono>

namespace {

constexpr std::size_t kProcessBudget = std::size_t(256) << 20;
const char kNothing = 0;

} // namespace

CLoadBudget& CLoadBudget::Process()
{
    static CLoadBudget budget(kProcessBudget);
    return budget;
}

std::shared_ptr<const void> CLoadBudget::Take(std::size_t n, int waitMs)
{
    // Small loads share nothing; the charge still says the load may go.
    if (n <= kSmallLoad)
        return std::shared_ptr<const void>(&kNothing, [](const void*) {});
    std::unique_lock guard(lock_);
    if (n > total_)
        return nullptr;
    if (!given_.wait_for(guard, std::chrono::milliseconds(waitMs), [&] { return used_ + n <= total_; }))
        return nullptr;
    used_ += n;
    return std::shared_ptr<const void>(&kNothing, [this, n](const void*) { Give(n); });
}

void CLoadBudget::Give(std::size_t n)
{
    std::lock_guard guard(lock_);
    used_ -= n;
    given_.notify_all();
}

std::size_t CLoadBudget::InUse() const
{
    std::lock_guard guard(lock_);
    return used_;
}
