// wlimages: draws the console's bitmaps and icons into PNG files. The PNGs are
// kept in console/widgets/images and compiled in as Qt resources; run this
// again (QT_QPA_PLATFORM=offscreen wlimages <folder>) after changing a picture.

#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

#include <cstdio>
#include <functional>

namespace {

using Draw = std::function<void(QPainter&, double)>; // s: pixels per unit of a 16-unit square

QImage Render(int width, int height, const std::vector<Draw>& cells)
{
    QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    const int cell = height;
    for (size_t i = 0; i < cells.size(); ++i) {
        p.save();
        p.translate(static_cast<double>(i) * cell, 0);
        cells[i](p, cell / 16.0);
        p.restore();
    }
    return image;
}

// A tower server: case, two drive bays, a status light.
void Server(QPainter& p, double s, QColor body, QColor light)
{
    QRectF box(3.5 * s, 1 * s, 9 * s, 14 * s);
    QLinearGradient g(box.topLeft(), box.topRight());
    g.setColorAt(0, body.lighter(135));
    g.setColorAt(1, body.darker(115));
    p.setPen(QPen(body.darker(180), std::max(1.0, 0.6 * s)));
    p.setBrush(g);
    p.drawRoundedRect(box, 1.2 * s, 1.2 * s);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(40, 48, 60));
    p.drawRect(QRectF(5 * s, 3 * s, 6 * s, 1.6 * s));
    p.drawRect(QRectF(5 * s, 5.6 * s, 6 * s, 1.6 * s));
    p.setBrush(QColor(200, 205, 215));
    for (int i = 0; i < 3; ++i)
        p.drawRect(QRectF(5 * s, (9 + i * 1.3) * s, 6 * s, 0.5 * s));
    p.setBrush(light);
    p.drawEllipse(QPointF(10 * s, 13.3 * s), 0.8 * s, 0.8 * s);
}

void Padlock(QPainter& p, double s)
{
    p.setPen(QPen(QColor(120, 90, 10), 1.1 * s));
    p.setBrush(Qt::NoBrush);
    p.drawArc(QRectF(9.6 * s, 7.2 * s, 4.4 * s, 5 * s), 0, 180 * 16);
    p.setPen(QPen(QColor(120, 90, 10), std::max(1.0, 0.5 * s)));
    p.setBrush(QColor(236, 184, 40));
    p.drawRoundedRect(QRectF(8.8 * s, 9.6 * s, 6 * s, 5.6 * s), 0.8 * s, 0.8 * s);
    p.setBrush(QColor(90, 60, 0));
    p.setPen(Qt::NoPen);
    p.drawEllipse(QPointF(11.8 * s, 12 * s), 0.7 * s, 0.7 * s);
}

void PlainServer(QPainter& p, double s) { Server(p, s, QColor(86, 124, 178), QColor(60, 210, 80)); }
void DefaultServer(QPainter& p, double s)
{
    Server(p, s, QColor(120, 128, 140), QColor(60, 210, 80));
    Padlock(p, s);
}

void Badge(QPainter& p, double s, QColor colour)
{
    p.setPen(QPen(colour.darker(150), std::max(1.0, 0.5 * s)));
    p.setBrush(colour);
    p.drawEllipse(QPointF(11.5 * s, 11.5 * s), 4 * s, 4 * s);
    p.setPen(QPen(Qt::white, 1.6 * s, Qt::SolidLine, Qt::RoundCap));
}

void NewServer(QPainter& p, double s)
{
    Server(p, s * 0.85, QColor(86, 124, 178), QColor(60, 210, 80));
    Badge(p, s, QColor(46, 160, 60));
    p.drawLine(QPointF(11.5 * s, 9.3 * s), QPointF(11.5 * s, 13.7 * s));
    p.drawLine(QPointF(9.3 * s, 11.5 * s), QPointF(13.7 * s, 11.5 * s));
}

void Delete(QPainter& p, double s)
{
    p.setPen(QPen(QColor(150, 20, 20), 4.2 * s, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(3.5 * s, 3.5 * s), QPointF(12.5 * s, 12.5 * s));
    p.drawLine(QPointF(12.5 * s, 3.5 * s), QPointF(3.5 * s, 12.5 * s));
    p.setPen(QPen(QColor(225, 50, 45), 2.6 * s, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(3.5 * s, 3.5 * s), QPointF(12.5 * s, 12.5 * s));
    p.drawLine(QPointF(12.5 * s, 3.5 * s), QPointF(3.5 * s, 12.5 * s));
}

// A screen with a pulse trace.
void Activity(QPainter& p, double s)
{
    p.setPen(QPen(QColor(50, 60, 75), std::max(1.0, 0.6 * s)));
    p.setBrush(QColor(30, 40, 52));
    p.drawRoundedRect(QRectF(1 * s, 2 * s, 14 * s, 10.5 * s), 1 * s, 1 * s);
    p.setBrush(QColor(120, 128, 140));
    p.drawRect(QRectF(6 * s, 12.5 * s, 4 * s, 1.5 * s));
    p.drawRect(QRectF(4 * s, 14 * s, 8 * s, 1 * s));
    QPainterPath trace;
    trace.moveTo(2.5 * s, 8 * s);
    trace.lineTo(5.5 * s, 8 * s);
    trace.lineTo(7 * s, 4 * s);
    trace.lineTo(8.8 * s, 10.8 * s);
    trace.lineTo(10.3 * s, 6.5 * s);
    trace.lineTo(11.2 * s, 8 * s);
    trace.lineTo(13.5 * s, 8 * s);
    p.setPen(QPen(QColor(90, 240, 120), 1.3 * s, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    p.drawPath(trace);
}

// A diskette.
void Save(QPainter& p, double s)
{
    QPainterPath body;
    body.moveTo(1.5 * s, 1.5 * s);
    body.lineTo(12.5 * s, 1.5 * s);
    body.lineTo(14.5 * s, 3.5 * s);
    body.lineTo(14.5 * s, 14.5 * s);
    body.lineTo(1.5 * s, 14.5 * s);
    body.closeSubpath();
    p.setPen(QPen(QColor(25, 45, 95), std::max(1.0, 0.6 * s)));
    p.setBrush(QColor(52, 92, 180));
    p.drawPath(body);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(235, 238, 245));
    p.drawRect(QRectF(4 * s, 1.9 * s, 7.5 * s, 4.6 * s));
    p.setBrush(QColor(52, 92, 180));
    p.drawRect(QRectF(9 * s, 2.6 * s, 1.6 * s, 3.2 * s));
    p.setBrush(QColor(250, 250, 250));
    p.drawRect(QRectF(3.5 * s, 8.5 * s, 9 * s, 6 * s));
    p.setBrush(QColor(170, 175, 190));
    for (int i = 0; i < 3; ++i)
        p.drawRect(QRectF(4.5 * s, (10 + i * 1.5) * s, 7 * s, 0.5 * s));
}

// An open door with an arrow leaving through it.
void Close(QPainter& p, double s)
{
    p.setPen(QPen(QColor(90, 60, 30), std::max(1.0, 0.6 * s)));
    p.setBrush(QColor(150, 105, 60));
    p.drawRect(QRectF(2 * s, 1.5 * s, 8 * s, 13 * s));
    p.setBrush(QColor(205, 160, 105));
    QPolygonF door;
    door << QPointF(2 * s, 1.5 * s) << QPointF(7 * s, 3 * s) << QPointF(7 * s, 15.5 * s) << QPointF(2 * s, 14.5 * s);
    p.drawPolygon(door);
    p.setPen(QPen(QColor(200, 40, 30), 1.8 * s, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawLine(QPointF(8.5 * s, 8 * s), QPointF(14.5 * s, 8 * s));
    p.drawLine(QPointF(12 * s, 5.5 * s), QPointF(14.5 * s, 8 * s));
    p.drawLine(QPointF(12 * s, 10.5 * s), QPointF(14.5 * s, 8 * s));
}

// The program's own mark: a blue tile with a lighthouse-like server stack.
void Program(QPainter& p, double s)
{
    QRectF tile(0.5 * s, 0.5 * s, 15 * s, 15 * s);
    QLinearGradient g(tile.topLeft(), tile.bottomRight());
    g.setColorAt(0, QColor(60, 130, 215));
    g.setColorAt(1, QColor(22, 58, 130));
    p.setPen(QPen(QColor(15, 40, 95), std::max(1.0, 0.5 * s)));
    p.setBrush(g);
    p.drawRoundedRect(tile, 3 * s, 3 * s);
    p.setPen(Qt::NoPen);
    for (int i = 0; i < 3; ++i) {
        QRectF unit(3.5 * s, (3.2 + i * 3.4) * s, 9 * s, 2.6 * s);
        p.setBrush(QColor(235, 242, 252));
        p.drawRoundedRect(unit, 0.6 * s, 0.6 * s);
        p.setBrush(i == 0 ? QColor(60, 200, 90) : QColor(120, 140, 170));
        p.drawEllipse(QPointF(11 * s, unit.center().y()), 0.7 * s, 0.7 * s);
    }
}

std::vector<QImage> g_written;

// A contact sheet of every picture at four times its size, on white, for review.
QImage Sheet()
{
    int width = 8, height = 0;
    for (const QImage& image : g_written) {
        width += image.width() * 4 + 8;
        height = std::max(height, image.height() * 4 + 16);
    }
    QImage sheet(width, height, QImage::Format_RGB32);
    sheet.fill(Qt::white);
    QPainter p(&sheet);
    int x = 8;
    for (const QImage& image : g_written) {
        p.drawImage(QRect(x, 8, image.width() * 4, image.height() * 4), image);
        x += image.width() * 4 + 8;
    }
    return sheet;
}

bool Write(const QString& folder, const char* name, const QImage& image)
{
    g_written.push_back(image);
    const QString path = folder + "/" + name;
    if (!image.save(path)) {
        std::fprintf(stderr, "wlimages: cannot write %s\n", qPrintable(path));
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2 && argc != 3) {
        std::fprintf(stderr, "usage: wlimages <folder> [contact sheet.png]\n");
        return 2;
    }
    QGuiApplication app(argc, argv);
    const QString out = QString::fromLocal8Bit(argv[1]);
    bool ok = true;
    ok &= Write(out, "bitmap204-servers48.png", Render(96, 48, {PlainServer, DefaultServer}));
    ok &= Write(out, "bitmap211-servers16.png", Render(32, 16, {PlainServer, DefaultServer}));
    ok &= Write(out, "bitmap201-about.png", Render(64, 64, {Program}));
    ok &= Write(out, "icon128-program32.png", Render(32, 32, {Program}));
    ok &= Write(out, "icon128-program16.png", Render(16, 16, {Program}));
    ok &= Write(out, "icon205-close.png", Render(16, 16, {Close}));
    ok &= Write(out, "icon206-new-server.png", Render(16, 16, {NewServer}));
    ok &= Write(out, "icon207-activity.png", Render(16, 16, {Activity}));
    ok &= Write(out, "icon209-delete.png", Render(16, 16, {Delete}));
    ok &= Write(out, "icon210-save.png", Render(16, 16, {Save}));
    if (argc == 3)
        ok &= Sheet().save(QString::fromLocal8Bit(argv[2]));
    return ok ? 0 : 1;
}
