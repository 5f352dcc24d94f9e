#pragma once
// What a screenshot scene works with: a fresh main window over the scratch
// configuration (servers "Default", "Sales Office" and "Warehouse", with
// folders under "/srv/tqwl" that need not exist: scenes must not save), shown
// at a fixed place and size, and a prompt that never opens a box.

#include "console/widgets/MainFrame.h"

#include <memory>

class CScreenshotStage {
public:
    CScreenshotStage();
    ~CScreenshotStage();

    CMainFrame& Frame() { return *frame_; }
    IPrompt& Prompt() { return *prompt_; }

    // Lets the window system and the event loop catch up for ms milliseconds.
    static void Settle(int ms = 300);
    // Opens the menu bar's menu with this title (as "&File") and highlights
    // one of its commands (0: none); returns the menu.
    QMenu* OpenMenu(const QString& title, int highlightId = 0);
    // Moves the mouse pointer onto the toolbar button of this command, so it
    // shows its hot look.
    void HoverToolBarButton(int id);

private:
    std::unique_ptr<IPrompt> prompt_;
    std::unique_ptr<CMainFrame> frame_;
};
