#include "console/widgets/QtPrompt.h"

#include <QApplication>
#include <QCheckBox>
#include <QDesktopServices>
#include <QFileDialog>
#include <QMessageBox>
#include <QSettings>
#include <QUrl>

#include <memory>

namespace {

QMessageBox::Icon ToQt(PromptIcon icon)
{
    switch (icon) {
    case PromptIcon::Information: return QMessageBox::Information;
    case PromptIcon::Question: return QMessageBox::Question;
    case PromptIcon::Warning: return QMessageBox::Warning;
    case PromptIcon::Error: return QMessageBox::Critical;
    case PromptIcon::None: break;
    }
    return QMessageBox::NoIcon;
}

// Per-user choices of the console, as the desktop keeps them.
QSettings UserSettings()
{
    return QSettings(QStringLiteral("Tessary Quorle"), QStringLiteral("WLStatus"));
}

QString RememberPath(const std::string& key)
{
    return QStringLiteral("DontShowAgain/") + QString::fromStdString(key);
}

} // namespace

QWidget* CQtPrompt::Owner() const
{
    return parent_ ? parent_ : QApplication::activeWindow();
}

QMessageBox* CQtPrompt::MessageBox(const std::string& text, const std::string& caption, PromptButtons buttons,
                                   PromptIcon icon, QWidget* owner)
{
    auto* box = new QMessageBox(ToQt(icon), QString::fromStdString(caption), QString::fromStdString(text),
                                QMessageBox::NoButton, owner);
    switch (buttons) {
    case PromptButtons::Ok:
        box->setStandardButtons(QMessageBox::Ok);
        break;
    case PromptButtons::OkCancel:
        box->setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        break;
    case PromptButtons::YesNo:
        // A question whose Yes hands something over is not answered by Enter alone.
        box->setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box->setDefaultButton(QMessageBox::No);
        break;
    case PromptButtons::YesNoCancel:
        box->setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
        break;
    }
    return box;
}

PromptAnswer CQtPrompt::Message(const std::string& text, const std::string& caption, PromptButtons buttons,
                                PromptIcon icon)
{
    std::unique_ptr<QMessageBox> box(MessageBox(text, caption, buttons, icon, Owner()));
    switch (box->exec()) {
    case QMessageBox::Yes: return PromptAnswer::Yes;
    case QMessageBox::No: return PromptAnswer::No;
    case QMessageBox::Cancel: return PromptAnswer::Cancel;
    default: break;
    }
    // Closing a box that has a Cancel button answers Cancel, a Yes/No box No
    // (it has no other way out), an OK-only box OK.
    return buttons == PromptButtons::YesNo ? PromptAnswer::No : PromptAnswer::Ok;
}

PromptAnswer CQtPrompt::NoticeWithCheck(const std::string& text, const std::string& caption, PromptIcon icon,
                                        const std::string& rememberKey)
{
    QSettings settings = UserSettings();
    if (settings.value(RememberPath(rememberKey), false).toBool())
        return PromptAnswer::Ok;
    QMessageBox box(ToQt(icon), QString::fromStdString(caption), QString::fromStdString(text), QMessageBox::Ok,
                    Owner());
    auto* check = new QCheckBox(QObject::tr("In the future, do not show me this dialog box"));
    box.setCheckBox(check);
    box.exec();
    if (check->isChecked())
        settings.setValue(RememberPath(rememberKey), true);
    return PromptAnswer::Ok;
}

std::optional<std::string> CQtPrompt::SaveFileName(const std::string& title, const std::string& filter,
                                                   const std::string& defaultSuffix)
{
    QFileDialog dialog(Owner(), QString::fromStdString(title), QString(), QString::fromStdString(filter));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setDefaultSuffix(QString::fromStdString(defaultSuffix));
    // The desktop's own dialog may ask about replacing a file before the
    // suffix is added; Qt's asks about the name it will return.
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    const QString name = dialog.selectedFiles().constFirst();
    if (name.isEmpty())
        return std::nullopt;
    return name.toStdString();
}

bool CQtPrompt::OpenUrl(const std::string& url)
{
    return QDesktopServices::openUrl(QUrl(QString::fromStdString(url)));
}
