#pragma once
// The main window's activity windows: at most one object per port, owned here.
// An object whose window was closed is deleted only after its threads have
// ended; a timer looks for such objects, so the UI thread never waits on them.

#include "console/widgets/ActivityWindow.h"

#include <QObject>
#include <QTimer>

#include <functional>
#include <map>
#include <memory>
#include <vector>

class CActivityWindowMap : public QObject {
    Q_OBJECT
public:
    explicit CActivityWindowMap(ActivityWindowFactory factory, QObject* parent = nullptr);
    ~CActivityWindowMap() override;

    void SetFactory(ActivityWindowFactory factory) { factory_ = std::move(factory); }

    // The port's object, whether its window is open or not; null when none.
    IActivityWindow* Find(DWORD port) const;
    // The port's object while its window is open; null otherwise.
    IActivityWindow* FindOpen(DWORD port) const;

    // Makes a new object for the port; an older one is retired first.
    IActivityWindow* Create(DWORD port);
    // Takes the port's object out of the map; it is deleted once its threads end.
    void Retire(DWORD port);
    // Closes every open window and retires every object.
    void CloseAll();

    // Every object whose window is open, in port order.
    void ForEachOpen(const std::function<void(DWORD port, IActivityWindow& window)>& visit) const;

    size_t Count() const { return windows_.size(); }
    // Retired objects whose threads have not ended yet.
    size_t WaitingForThreads() const { return retired_.size(); }

    // Deletes the retired objects whose threads have ended.
    void Reap();
    // For the program's end: keeps the event loop turning until every retired
    // object could be deleted or timeoutMs passed; true when none is left.
    // Objects whose threads still run after that are never deleted.
    bool WaitForThreads(int timeoutMs);

private:
    ActivityWindowFactory factory_;
    std::map<DWORD, std::unique_ptr<IActivityWindow>> windows_;
    std::vector<std::unique_ptr<IActivityWindow>> retired_;
    QTimer reaper_;
};
