#pragma once
// The console's prompt on a desktop: Qt message boxes, file dialogs and the
// desktop's URL opener. Choices the user asked to be remembered are kept per
// user in QSettings.

#include "console/core/Prompt.h"

class QMessageBox;
class QWidget;

class CQtPrompt : public IPrompt {
public:
    // Boxes are owned by parent (null: the active window).
    explicit CQtPrompt(QWidget* parent = nullptr) : parent_(parent) {}

    PromptAnswer Message(const std::string& text, const std::string& caption, PromptButtons buttons,
                         PromptIcon icon) override;
    PromptAnswer NoticeWithCheck(const std::string& text, const std::string& caption, PromptIcon icon,
                                 const std::string& rememberKey) override;
    std::optional<std::string> SaveFileName(const std::string& title, const std::string& filter,
                                            const std::string& defaultSuffix) override;
    bool OpenUrl(const std::string& url) override;

    // The box Message shows, not yet shown.
    static QMessageBox* MessageBox(const std::string& text, const std::string& caption, PromptButtons buttons,
                                   PromptIcon icon, QWidget* owner);

private:
    QWidget* Owner() const;

    QWidget* parent_;
};
