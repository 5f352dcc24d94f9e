#pragma once
// One picture of the console: a function that sets the scene on a fresh main
// window and returns the window to photograph (null: the main window). Open
// menus and other popups are photographed with it. Write
//
//   TQ_SCREENSHOT(MainWindowInReportView, "main-report.png")
//   {
//       stage.Frame().Trigger(cmd::kViewList);
//       return nullptr;
//   }
//
// in any .cpp of this folder; the picture lands in <output folder>/main-report.png.

#include "console/screenshots/ScreenshotStage.h"

#include <functional>
#include <vector>

class QWidget;

struct Screenshot {
    const char* file;
    std::function<QWidget*(CScreenshotStage& stage)> scene;
};

std::vector<Screenshot>& Screenshots();

struct ScreenshotRegistration {
    ScreenshotRegistration(const char* file, QWidget* (*scene)(CScreenshotStage&))
    {
        Screenshots().push_back({file, scene});
    }
};

#define TQ_SCREENSHOT(name, file)                                                                                 \
    static QWidget* name(CScreenshotStage& stage);                                                               \
    static const ScreenshotRegistration name##Registration(file, &name);                                         \
    static QWidget* name([[maybe_unused]] CScreenshotStage& stage)
