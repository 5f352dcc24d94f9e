#include "console/widgets/AboutDlg.h"

#include "console/widgets/ConsoleImages.h"

#include <QFontMetrics>
#include <QLabel>
#include <QPushButton>

namespace {

// The box is laid out in dialog units: a quarter of the font's average
// character width across, an eighth of its height down.
QRect Units(const QFontMetrics& m, int x, int y, int w, int h)
{
    const double ux = m.averageCharWidth() / 4.0;
    const double uy = m.height() / 8.0;
    return QRect(qRound(x * ux), qRound(y * uy), qRound(w * ux), qRound(h * uy));
}

} // namespace

CAboutDlg::CAboutDlg(QWidget* owner) : QDialog(owner)
{
    setWindowTitle(QString::fromLatin1(kCaption));
    setWindowIcon(images::ProgramIcon());
    const QFontMetrics m(font());
    setFixedSize(Units(m, 0, 0, 315, 170).size());

    title_ = new QLabel(QString::fromLatin1(kTitleLine), this);
    QFont bold = title_->font();
    bold.setBold(true);
    title_->setFont(bold);
    title_->setGeometry(Units(m, 7, 7, 224, 11));

    auto* picture = new QLabel(this);
    picture->setPixmap(images::AboutBitmap());
    picture->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    picture->adjustSize();
    picture->move(Units(m, 7, 19, 0, 0).topLeft());

    ok_ = new QPushButton(tr("OK"), this);
    ok_->setGeometry(Units(m, 72, 152, 55, 14));
    ok_->setDefault(true);
    ok_->setFocus();
    connect(ok_, &QPushButton::clicked, this, &QDialog::accept);
}

void CAboutDlg::reject()
{
    // Escape and the close button do not end the box.
}
