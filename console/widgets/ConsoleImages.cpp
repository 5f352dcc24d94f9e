#include "console/widgets/ConsoleImages.h"

// The pictures live in a static library, whose resource initialiser a linker
// may drop: register them explicitly before the first use.
static void InitImageResources()
{
    Q_INIT_RESOURCE(images);
}

namespace images {

namespace {

void EnsureResources()
{
    static const bool done = (InitImageResources(), true);
    (void)done;
}

QPixmap Load(const char* path)
{
    EnsureResources();
    return QPixmap(QString::fromLatin1(path));
}

QIcon LoadIcon(const char* path)
{
    return QIcon(Load(path));
}

QPixmap Cell(const char* strip, int size, int index)
{
    EnsureResources();
    QPixmap all(QString::fromLatin1(strip));
    return all.copy(index * size, 0, size, size);
}

} // namespace

QPixmap LargeServerImage(int index)
{
    return Cell(":/images/bitmap204-servers48.png", 48, index);
}

QPixmap SmallServerImage(int index)
{
    return Cell(":/images/bitmap211-servers16.png", 16, index);
}

QIcon ServerIcon(int index)
{
    QIcon icon;
    icon.addPixmap(LargeServerImage(index));
    icon.addPixmap(SmallServerImage(index));
    return icon;
}

QIcon ProgramIcon()
{
    QIcon icon;
    icon.addPixmap(Load(":/images/icon128-program32.png"));
    icon.addPixmap(Load(":/images/icon128-program16.png"));
    return icon;
}

QPixmap AboutBitmap()
{
    return Load(":/images/bitmap201-about.png");
}

QIcon CloseIcon() { return LoadIcon(":/images/icon205-close.png"); }
QIcon NewServerIcon() { return LoadIcon(":/images/icon206-new-server.png"); }
QIcon ActivityIcon() { return LoadIcon(":/images/icon207-activity.png"); }
QIcon DeleteIcon() { return LoadIcon(":/images/icon209-delete.png"); }
QIcon SaveIcon() { return LoadIcon(":/images/icon210-save.png"); }

} // namespace images
