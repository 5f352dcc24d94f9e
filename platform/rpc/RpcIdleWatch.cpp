#include "platform/rpc/RpcIdleWatch.h"

#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <climits>
#include <cstdint>
#include <system_error>
#include <utility>
#include <vector>

CRpcIdleWatch::CRpcIdleWatch()
    : epoll_(::epoll_create1(EPOLL_CLOEXEC)), wakeFd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
{
    if (epoll_ < 0 || wakeFd_ < 0)
        return;
    epoll_event e{};
    e.events = EPOLLIN;
    e.data.fd = wakeFd_;
    if (::epoll_ctl(epoll_, EPOLL_CTL_ADD, wakeFd_, &e) != 0)
        return;
    try {
        thread_ = std::thread(&CRpcIdleWatch::Run, this);
    } catch (const std::system_error&) {
        // Without its thread the watch takes nothing; connections keep theirs.
    }
}

CRpcIdleWatch::~CRpcIdleWatch()
{
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    Signal();
    if (thread_.joinable())
        thread_.join();
    if (epoll_ >= 0)
        ::close(epoll_);
    if (wakeFd_ >= 0)
        ::close(wakeFd_);
}

void CRpcIdleWatch::Signal()
{
    uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(wakeFd_, &one, sizeof one);
}

bool CRpcIdleWatch::Watch(int fd, Clock::time_point deadline, Wake wake)
{
    if (!thread_.joinable())
        return false;
    std::lock_guard lock(mutex_);
    if (stopping_ || entries_.count(fd) != 0)
        return false;
    const bool earlier = deadline != Clock::time_point::max() &&
                         (deadlines_.empty() || deadline < deadlines_.begin()->first);
    epoll_event e{};
    // One wake-up per watch: the connection is someone else's afterwards.
    e.events = EPOLLIN | EPOLLRDHUP | EPOLLONESHOT;
    e.data.fd = fd;
    if (::epoll_ctl(epoll_, EPOLL_CTL_ADD, fd, &e) != 0)
        return false;
    entries_.emplace(fd, Entry{deadline, std::move(wake)});
    if (deadline != Clock::time_point::max())
        deadlines_.emplace(deadline, fd);
    if (earlier)
        Signal();
    return true;
}

size_t CRpcIdleWatch::Count() const
{
    std::lock_guard lock(mutex_);
    return entries_.size();
}

void CRpcIdleWatch::Run()
{
    std::vector<epoll_event> events(256);
    std::vector<std::pair<Wake, bool>> woken;
    for (;;) {
        int timeout = -1;
        {
            std::lock_guard lock(mutex_);
            if (stopping_)
                break;
            if (!deadlines_.empty()) {
                auto left = std::chrono::ceil<std::chrono::milliseconds>(deadlines_.begin()->first - Clock::now());
                timeout = left.count() <= 0 ? 0 : left.count() > INT_MAX ? INT_MAX : int(left.count());
            }
        }
        int n = ::epoll_wait(epoll_, events.data(), int(events.size()), timeout);
        woken.clear();
        {
            std::lock_guard lock(mutex_);
            auto take = [&](std::map<int, Entry>::iterator it, bool expired) {
                ::epoll_ctl(epoll_, EPOLL_CTL_DEL, it->first, nullptr);
                deadlines_.erase({it->second.deadline, it->first});
                woken.emplace_back(std::move(it->second.wake), expired);
                entries_.erase(it);
            };
            for (int i = 0; i < n; ++i) {
                const int fd = events[size_t(i)].data.fd;
                if (fd == wakeFd_) {
                    uint64_t drained;
                    while (::read(wakeFd_, &drained, sizeof drained) > 0) {
                    }
                    continue;
                }
                if (auto it = entries_.find(fd); it != entries_.end())
                    take(it, false);
            }
            const Clock::time_point now = Clock::now();
            while (!deadlines_.empty() && deadlines_.begin()->first <= now)
                take(entries_.find(deadlines_.begin()->second), true);
        }
        for (auto& [wake, expired] : woken)
            wake(expired);
    }
}
