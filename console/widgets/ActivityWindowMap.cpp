#include "console/widgets/ActivityWindowMap.h"

#include <QCoreApplication>
#include <QElapsedTimer>

namespace {
constexpr int kReapIntervalMs = 250;
}

CActivityWindowMap::CActivityWindowMap(ActivityWindowFactory factory, QObject* parent)
    : QObject(parent), factory_(std::move(factory))
{
    reaper_.setInterval(kReapIntervalMs);
    connect(&reaper_, &QTimer::timeout, this, &CActivityWindowMap::Reap);
}

CActivityWindowMap::~CActivityWindowMap()
{
    CloseAll();
    Reap();
    // An object whose threads still run must outlive them: it is left behind
    // rather than freed under a running thread.
    for (auto& object : retired_)
        (void)object.release();
}

IActivityWindow* CActivityWindowMap::Find(DWORD port) const
{
    auto it = windows_.find(port);
    return it == windows_.end() ? nullptr : it->second.get();
}

IActivityWindow* CActivityWindowMap::FindOpen(DWORD port) const
{
    IActivityWindow* window = Find(port);
    return window && window->IsWindowOpen() ? window : nullptr;
}

IActivityWindow* CActivityWindowMap::Create(DWORD port)
{
    Retire(port);
    std::unique_ptr<IActivityWindow> window = factory_ ? factory_(port) : nullptr;
    if (!window)
        return nullptr;
    IActivityWindow* raw = window.get();
    windows_[port] = std::move(window);
    return raw;
}

void CActivityWindowMap::Retire(DWORD port)
{
    auto it = windows_.find(port);
    if (it == windows_.end())
        return;
    std::unique_ptr<IActivityWindow> window = std::move(it->second);
    windows_.erase(it);
    if (window->IsWindowOpen())
        window->Close();
    retired_.push_back(std::move(window));
    Reap();
}

void CActivityWindowMap::CloseAll()
{
    while (!windows_.empty())
        Retire(windows_.begin()->first);
}

void CActivityWindowMap::ForEachOpen(const std::function<void(DWORD, IActivityWindow&)>& visit) const
{
    for (const auto& [port, window] : windows_)
        if (window->IsWindowOpen())
            visit(port, *window);
}

void CActivityWindowMap::Reap()
{
    std::erase_if(retired_, [](const std::unique_ptr<IActivityWindow>& window) { return window->HasEnded(); });
    if (retired_.empty())
        reaper_.stop();
    else if (!reaper_.isActive())
        reaper_.start();
}

bool CActivityWindowMap::WaitForThreads(int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    Reap();
    while (!retired_.empty() && clock.elapsed() < timeoutMs) {
        // The reaper's timer wakes this at least every 250 ms.
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
        Reap();
    }
    return retired_.empty();
}
