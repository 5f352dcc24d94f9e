// wlscreenshots <output folder>: takes every registered picture of the
// console against a scratch state root (removed at the end) and writes one
// PNG each. Run it on an X display (scripts/with-xvfb.sh does that).

#include "console/screenshots/Screenshot.h"

#include "common/Names.h"
#include "platform/registry/Registry.h"

#include <QApplication>
#include <QDir>
#include <QScreen>
#include <QWidget>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

std::vector<Screenshot>& Screenshots()
{
    static std::vector<Screenshot> all;
    return all;
}

namespace {

void SetText(HKEY key, const char* name, const std::string& text)
{
    RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                   static_cast<DWORD>(text.size() + 1));
}

// The folders the pictures show; they need not exist, since no scene saves.
constexpr const char* kShownInstallFolder = "/srv/tqwl";

void AddServer(const std::string& name, DWORD port, const std::string& description)
{
    HKEY key = nullptr;
    const std::string path = std::string(tq::kVirtualServersKey) + "\\" + name;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
        return;
    RegSetValueExA(key, tq::kPortValue, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&port), sizeof port);
    SetText(key, tq::kStorageFolderValue, std::string(kShownInstallFolder) + "/" + name + "/");
    SetText(key, tq::kDescriptionValue, description);
    RegCloseKey(key);
}

// The configuration every picture starts from.
bool SeedScratchRoot()
{
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, tq::kWardlakeKey, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
        return false;
    SetText(key, tq::kStorageFolderValue, std::string(kShownInstallFolder) + "/storage/");
    SetText(key, tq::kPathValue, kShownInstallFolder);
    RegCloseKey(key);
    AddServer("Sales Office", 35001, "Clients of the sales office");
    AddServer("Warehouse", 35002, "Scanners and stock terminals");
    return true;
}

// The window and every popup open over it, as the screen shows them.
QPixmap Photograph(QWidget* window)
{
    QRect area = window->frameGeometry();
    if (QWidget* popup = QApplication::activePopupWidget())
        area = area.united(popup->frameGeometry());
    QScreen* screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
    return screen->grabWindow(0, area.x(), area.y(), area.width(), area.height());
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: wlscreenshots <output folder>\n");
        return 2;
    }
    char pattern[] = "/tmp/wlscreenshots.XXXXXX";
    if (!mkdtemp(pattern)) {
        std::perror("wlscreenshots: scratch folder");
        return 1;
    }
    const std::string root = pattern;
    setenv("TQ_STATE_ROOT", root.c_str(), 1);
    if (!SeedScratchRoot()) {
        std::fprintf(stderr, "wlscreenshots: cannot write the scratch registry\n");
        return 1;
    }

    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    const QDir out(QString::fromLocal8Bit(argv[1]));
    QDir().mkpath(out.path());
    int failures = 0;
    for (const Screenshot& shot : Screenshots()) {
        CScreenshotStage stage;
        QWidget* target = shot.scene(stage);
        CScreenshotStage::Settle();
        const QString path = out.filePath(QString::fromLatin1(shot.file));
        if (Photograph(target ? target : &stage.Frame()).save(path)) {
            std::printf("%s\n", qPrintable(path));
        } else {
            std::fprintf(stderr, "wlscreenshots: cannot write %s\n", qPrintable(path));
            ++failures;
        }
    }
    std::error_code ec;
    std::filesystem::remove_all(root, ec);
    return failures == 0 ? 0 : 1;
}
