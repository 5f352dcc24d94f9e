#pragma once
// An activity window that shows nothing live: an empty window with the
// server's title, and no threads.

#include "console/widgets/ActivityWindow.h"

#include <QWidget>

#include <memory>

class CPlaceholderActivityWnd : public IActivityWindow {
public:
    explicit CPlaceholderActivityWnd(DWORD port);
    ~CPlaceholderActivityWnd() override;

    QWidget* Window() override;
    void SetTitle(const QString& title) override;
    bool IsWindowOpen() const override { return open_; }
    void Close() override;
    bool HasEnded() const override { return true; }

    DWORD Port() const { return port_; }

private:
    DWORD port_;
    bool open_ = true;
    std::unique_ptr<QWidget> window_;
};
