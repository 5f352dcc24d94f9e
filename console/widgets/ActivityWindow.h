#pragma once
// What the main window needs of an activity window: the main window owns the
// object, keyed by port, and frees it only once all of its threads have ended.

#include "platform/win/WinTypes.h"

#include <QString>

#include <functional>
#include <memory>

class QWidget;

class IActivityWindow {
public:
    virtual ~IActivityWindow() = default;

    // The top-level window; it lives as long as the object.
    virtual QWidget* Window() = 0;
    virtual void SetTitle(const QString& title) = 0;
    // False once the window was closed (by the user or by Close); a hidden
    // window is still open.
    virtual bool IsWindowOpen() const = 0;
    // Asks the window to close and its threads to end, without waiting for them.
    virtual void Close() = 0;
    // True once every thread of the object has ended: only then may it be deleted.
    virtual bool HasEnded() const = 0;
};

// Makes the activity window object of one virtual server (its window not shown yet).
using ActivityWindowFactory = std::function<std::unique_ptr<IActivityWindow>(DWORD port)>;
