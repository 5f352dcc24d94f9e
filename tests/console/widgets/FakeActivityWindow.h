#pragma once
// An activity window whose threads end when the test says so; it tells the
// test when it is deleted.

#include "console/widgets/ActivityWindow.h"

#include <QWidget>

#include <memory>

class FakeActivityWindow : public IActivityWindow {
public:
    explicit FakeActivityWindow(bool* deleted = nullptr) : deleted_(deleted), window_(std::make_unique<QWidget>()) {}
    ~FakeActivityWindow() override
    {
        if (deleted_)
            *deleted_ = true;
    }

    QWidget* Window() override { return window_.get(); }
    void SetTitle(const QString& title) override { window_->setWindowTitle(title); }
    bool IsWindowOpen() const override { return open; }
    void Close() override
    {
        open = false;
        ++closeCalls;
        if (closeCounter)
            ++*closeCounter; // outlives the object
        window_->hide();
    }
    bool HasEnded() const override { return ended; }

    bool open = true;
    bool ended = false;
    int closeCalls = 0;
    int* closeCounter = nullptr;

private:
    bool* deleted_;
    std::unique_ptr<QWidget> window_;
};
