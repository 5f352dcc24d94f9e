#include "console/widgets/ArrowCursorPrompt.h"

#include <QApplication>

namespace {

// Puts the arrow over a busy cursor for as long as it lives.
class ArrowOverBusy {
public:
    ArrowOverBusy() : active_(QApplication::overrideCursor() != nullptr)
    {
        if (active_)
            QApplication::setOverrideCursor(Qt::ArrowCursor);
    }
    ~ArrowOverBusy()
    {
        if (active_)
            QApplication::restoreOverrideCursor();
    }
    ArrowOverBusy(const ArrowOverBusy&) = delete;
    ArrowOverBusy& operator=(const ArrowOverBusy&) = delete;

private:
    bool active_;
};

} // namespace

PromptAnswer CArrowCursorPrompt::Message(const std::string& text, const std::string& caption, PromptButtons buttons,
                                         PromptIcon icon)
{
    ArrowOverBusy arrow;
    return inner_.Message(text, caption, buttons, icon);
}

PromptAnswer CArrowCursorPrompt::NoticeWithCheck(const std::string& text, const std::string& caption,
                                                 PromptIcon icon, const std::string& rememberKey)
{
    ArrowOverBusy arrow;
    return inner_.NoticeWithCheck(text, caption, icon, rememberKey);
}

std::optional<std::string> CArrowCursorPrompt::SaveFileName(const std::string& title, const std::string& filter,
                                                            const std::string& defaultSuffix)
{
    ArrowOverBusy arrow;
    return inner_.SaveFileName(title, filter, defaultSuffix);
}

bool CArrowCursorPrompt::OpenUrl(const std::string& url)
{
    return inner_.OpenUrl(url);
}
