#include "platform/rpc/RpcRequestBudget.h"

#include <algorithm>
#include <chrono>

void CRpcRequestBudget::SetLimits(size_t total, size_t perPeer)
{
    std::lock_guard guard(lock_);
    total_ = total;
    perPeer_ = perPeer;
    given_.notify_all();
}

bool CRpcRequestBudget::Fits(const std::string& peer, size_t n) const
{
    if (n > total_ - std::min(used_, total_))
        return false;
    auto it = byPeer_.find(peer);
    const size_t mine = it == byPeer_.end() ? 0 : it->second;
    return n <= perPeer_ - std::min(mine, perPeer_);
}

bool CRpcRequestBudget::Take(const std::string& peer, size_t n, int waitMs)
{
    if (n == 0)
        return true;
    std::unique_lock guard(lock_);
    // More than a share can never fit: no use waiting for it.
    if (n > perPeer_ || n > total_)
        return false;
    auto fits = [&] { return Fits(peer, n); };
    if (!fits()) {
        ++waiting_;
        bool room = true;
        if (waitMs < 0)
            given_.wait(guard, fits);
        else
            room = given_.wait_for(guard, std::chrono::milliseconds(waitMs), fits);
        --waiting_;
        if (!room)
            return false;
    }
    used_ += n;
    byPeer_[peer] += n;
    return true;
}

void CRpcRequestBudget::Give(const std::string& peer, size_t n)
{
    if (n == 0)
        return;
    std::lock_guard guard(lock_);
    auto it = byPeer_.find(peer);
    if (it == byPeer_.end())
        return;
    const size_t back = std::min(n, it->second);
    it->second -= back;
    used_ -= std::min(back, used_);
    if (it->second == 0)
        byPeer_.erase(it);
    given_.notify_all();
}

bool CRpcRequestBudget::Wanted() const
{
    std::lock_guard guard(lock_);
    return waiting_ != 0;
}

size_t CRpcRequestBudget::InUse() const
{
    std::lock_guard guard(lock_);
    return used_;
}

size_t CRpcRequestBudget::InUse(const std::string& peer) const
{
    std::lock_guard guard(lock_);
    auto it = byPeer_.find(peer);
    return it == byPeer_.end() ? 0 : it->second;
}
