#pragma once
// An activity window whose threads end when the test says so; it tells the
// test when it is deleted. EndAll ends the threads of every fake alive, so
// that a map that is going away frees them rather than leaving them behind;
// an EndAllOnExit made after the map does so when the scope ends.

#include "console/widgets/ActivityWindow.h"

#include <QWidget>

#include <memory>
#include <set>

class FakeActivityWindow : public IActivityWindow {
public:
    explicit FakeActivityWindow(bool* deleted = nullptr) : deleted_(deleted), window_(std::make_unique<QWidget>())
    {
        Alive().insert(this);
    }
    ~FakeActivityWindow() override
    {
        Alive().erase(this);
        if (deleted_)
            *deleted_ = true;
    }

    static void EndAll()
    {
        for (FakeActivityWindow* fake : Alive())
            fake->ended = true;
    }
    struct EndAllOnExit {
        ~EndAllOnExit() { EndAll(); }
    };

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

    static std::set<FakeActivityWindow*>& Alive()
    {
        static std::set<FakeActivityWindow*> alive;
        return alive;
    }
};
