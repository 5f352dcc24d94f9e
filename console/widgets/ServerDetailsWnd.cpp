#include "console/widgets/ServerDetailsWnd.h"

#include "common/Names.h"
#include "console/core/AtoiText.h"
#include "console/core/Prompt.h"
#include "console/core/RegistryValue.h"
#include "console/core/StorageFolder.h"
#include "console/core/VirtualServer.h"

#include <QEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <cstdio>

namespace {

// Arial, or the face with its metrics that the installation brings.
QFont PaneFont(int points, bool bold, bool italic)
{
    QFont font(QStringLiteral("Arial"), points, bold ? QFont::Bold : QFont::Normal, italic);
    font.setStyleHint(QFont::SansSerif);
    return font;
}

QLabel* MakeLabel(const char* text, const QFont& font, QWidget* parent, int y)
{
    auto* label = new QLabel(QString::fromLatin1(text), parent);
    label->setFont(font);
    label->setTextFormat(Qt::PlainText);
    label->setGeometry(10, y, 90, 17);
    return label;
}

QLineEdit* MakeEdit(const QFont& font, QWidget* parent)
{
    auto* edit = new QLineEdit(parent);
    edit->setFont(font);
    edit->setFrame(false);
    // Reached by clicking only, as the pane's edits have no tab stop.
    edit->setFocusPolicy(Qt::ClickFocus);
    return edit;
}

QPushButton* MakeButton(const char* text, const QFont& font, QWidget* parent)
{
    auto* button = new QPushButton(QString::fromLatin1(text), parent);
    button->setFont(font);
    button->setFocusPolicy(Qt::NoFocus);
    button->hide();
    return button;
}

} // namespace

CServerDetailsWnd::CServerDetailsWnd(IPrompt& prompt, QWidget* parent) : QWidget(parent), prompt_(prompt)
{
    setObjectName(QStringLiteral("DetailsWnd"));
    setAutoFillBackground(true);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, palette.color(QPalette::Base));
    setPalette(palette);

    installFolder_ = ReadRegistryString(HKEY_LOCAL_MACHINE, tq::kWardlakeKey, tq::kPathValue).value_or("");

    const QFont regular = PaneFont(9, false, false);
    const QFont bold = PaneFont(9, true, false);
    setFont(regular);

    header_ = new QLabel(QStringLiteral("Virtual Server Details (click to edit)"), this);
    header_->setFont(PaneFont(11, true, true));
    header_->setTextFormat(Qt::PlainText);
    header_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    header_->setGeometry(10, 5, 300, 17);
    // It covers the pane; clicks go through to the edits under it.
    header_->setAttribute(Qt::WA_TransparentForMouseEvents);
    header_->lower();
    MakeLabel("Name", bold, this, 30);
    MakeLabel("Description", bold, this, 52);
    MakeLabel("Storage Folder", bold, this, 74);
    MakeLabel("Port", bold, this, 96);
    nameEdit_ = MakeEdit(regular, this);
    nameEdit_->setText(QStringLiteral("Name"));
    descriptionEdit_ = MakeEdit(regular, this);
    descriptionEdit_->setText(QStringLiteral("Description"));
    folder_ = new QLabel(QStringLiteral("Folder"), this);
    folder_->setFont(regular);
    folder_->setTextFormat(Qt::PlainText);
    // Lined up with the text of the frameless edits above it.
    folder_->setIndent(2);
    portEdit_ = MakeEdit(regular, this);
    portEdit_->setText(QStringLiteral("Port"));
    cancel_ = MakeButton("&Cancel", regular, this);
    save_ = MakeButton("&Save", regular, this);

    for (QLineEdit* edit : {nameEdit_, descriptionEdit_, portEdit_}) {
        edit->installEventFilter(this);
        // Typing again in the edit that kept the focus after a Save or Cancel edits again.
        connect(edit, &QLineEdit::textEdited, this, [this] { ShowButtons(true); });
    }
    connect(nameEdit_, &QLineEdit::textChanged, this, &CServerDetailsWnd::OnNameChanged);
    connect(save_, &QPushButton::clicked, this, &CServerDetailsWnd::OnSave);
    connect(cancel_, &QPushButton::clicked, this, &CServerDetailsWnd::OnCancel);
}

void CServerDetailsWnd::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    const int w = width();
    const int h = height();
    header_->setGeometry(10, 5, w - 20, h - 5);
    nameEdit_->setGeometry(110, 30, w - 120, 17);
    descriptionEdit_->setGeometry(110, 52, w - 120, 17);
    folder_->setGeometry(110, 74, w - 120, 17);
    portEdit_->setGeometry(110, 96, w - 290, 17);
    save_->setGeometry(w - 170, 96, 75, 17);
    cancel_->setGeometry(w - 85, 96, 75, 17);
}

bool CServerDetailsWnd::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::FocusIn)
        ShowButtons(true);
    return QWidget::eventFilter(watched, event);
}

void CServerDetailsWnd::ShowButtons(bool show)
{
    save_->setVisible(show);
    cancel_->setVisible(show);
}

void CServerDetailsWnd::OnNameChanged(const QString& name)
{
    // The folder a save will give the record: install folder, name, "/".
    folder_->setText(QString::fromStdString(WithTrailingSlash(JoinFolder(installFolder_, name.toStdString()))));
}

HRESULT CServerDetailsWnd::ShowServer(CVirtualServer* server)
{
    if (server == nullptr)
        return E_INVALIDARG;
    server_ = server;
    nameEdit_->setText(QString::fromStdString(server->Name()));
    descriptionEdit_->setText(QString::fromStdString(server->Description()));
    folder_->setText(QString::fromStdString(server->StorageFolder()));
    portEdit_->setText(QString::fromStdString(server->FormatPortText()));
    save_->setEnabled(!server->IsReadOnly());
    ShowButtons(false);
    return S_OK;
}

void CServerDetailsWnd::OnSave()
{
    if (server_ == nullptr)
        return;
    if (server_->IsReadOnly()) {
        prompt_.Message(kReadOnlyMessage, kCaption, PromptButtons::Ok, PromptIcon::Error);
        return;
    }
    const int32_t port = AtoiText(portEdit_->text().toStdString());
    if (port < static_cast<int32_t>(CVirtualServer::kMinPort) || port > static_cast<int32_t>(CVirtualServer::kMaxPort)) {
        char text[128];
        std::snprintf(text, sizeof text, kPortMessage, static_cast<int>(CVirtualServer::kMinPort) - 1,
                      static_cast<int>(CVirtualServer::kMaxPort) + 1);
        prompt_.Message(text, kCaption, PromptButtons::Ok, PromptIcon::Error);
        return;
    }
    server_->SetPort(static_cast<DWORD>(port));
    server_->SetName(nameEdit_->text().toStdString());
    server_->SetDescription(descriptionEdit_->text().toStdString());
    server_->SetStorageFolder(folder_->text().toStdString());
    ShowButtons(false);
    emit saved();
}

void CServerDetailsWnd::OnCancel()
{
    if (server_ != nullptr)
        ShowServer(server_);
    ShowButtons(false);
}
