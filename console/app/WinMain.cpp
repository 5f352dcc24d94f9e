// WLStatus: the console of the TQWL server. No arguments, no single-instance
// check. Exit status 0 after a normal close; 1, with a message on standard
// error, when there is no display to open the window on.

#include "console/widgets/ConsoleImages.h"
#include "console/widgets/MainFrame.h"
#include "console/widgets/QtPrompt.h"

#include <QApplication>

#include <cstdio>
#include <cstdlib>

namespace {

bool Set(const char* name)
{
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0';
}

// Qt aborts when its platform cannot connect; say why before it gets there.
bool HasDisplay()
{
    const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    if (platform.startsWith("xcb"))
        return Set("DISPLAY");
    if (platform.startsWith("wayland"))
        return Set("WAYLAND_DISPLAY");
    if (!platform.isEmpty())
        return true; // a platform without a display server (offscreen, vnc, ...)
    return Set("DISPLAY") || Set("WAYLAND_DISPLAY");
}

int Run(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("WLStatus"));
    QApplication::setOrganizationName(QStringLiteral("Tessary Quorle"));
    QApplication::setWindowIcon(images::ProgramIcon());
    // The program ends with the main window, not with its last window.
    QApplication::setQuitOnLastWindowClosed(false);

    CQtPrompt prompt;
    CMainFrame frame(prompt);
    QObject::connect(&frame, &CMainFrame::Closed, &app, &QCoreApplication::quit, Qt::QueuedConnection);
    frame.resize(CMainFrame::kStartWidth, CMainFrame::kStartHeight);
    frame.show();
    if (!frame.windowHandle()) {
        std::fprintf(stderr, "WLStatus: the main window could not be created\n");
        return 1;
    }
    QApplication::exec();
    // Activity windows' threads end on their own; give them a moment before
    // the program goes.
    frame.ActivityWindows().WaitForThreads(5000);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (!HasDisplay()) {
        std::fprintf(stderr, "WLStatus: no display (neither DISPLAY nor WAYLAND_DISPLAY is set); "
                             "run it on a desktop, or under Xvfb\n");
        return 1;
    }
    return Run(argc, argv);
}
