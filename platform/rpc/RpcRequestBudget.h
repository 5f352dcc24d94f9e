#pragma once
// The memory all connections together may hold for requests still arriving
// or running, with a share per peer address so that one peer cannot take all
// of it. A connection that finds the budget spent waits for others to give
// some back.

#include <condition_variable>
#include <cstddef>
#include <map>
#include <mutex>
#include <string>

class CRpcRequestBudget {
public:
    CRpcRequestBudget(size_t total, size_t perPeer) : total_(total), perPeer_(perPeer) {}
    CRpcRequestBudget(const CRpcRequestBudget&) = delete;
    CRpcRequestBudget& operator=(const CRpcRequestBudget&) = delete;

    void SetLimits(size_t total, size_t perPeer);
    // Takes n bytes for the peer, waiting up to waitMs (negative: for ever)
    // until they fit; false when they did not.
    bool Take(const std::string& peer, size_t n, int waitMs);
    void Give(const std::string& peer, size_t n);

    // Whether a Take is waiting for room now: a connection holding memory it
    // could do without gives it back then.
    bool Wanted() const;

    size_t InUse() const;
    size_t InUse(const std::string& peer) const;

private:
    bool Fits(const std::string& peer, size_t n) const;

    mutable std::mutex lock_;
    std::condition_variable given_;
    size_t total_;
    size_t perPeer_;
    size_t used_ = 0;
    size_t waiting_ = 0;
    std::map<std::string, size_t> byPeer_;
};
