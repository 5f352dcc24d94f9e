#pragma once
// A prompt that shows the arrow while the user reads or answers it, also
// when a busy cursor is up for the work that asked.

#include "console/core/Prompt.h"

class CArrowCursorPrompt : public IPrompt {
public:
    explicit CArrowCursorPrompt(IPrompt& inner) : inner_(inner) {}

    PromptAnswer Message(const std::string& text, const std::string& caption, PromptButtons buttons,
                         PromptIcon icon) override;
    PromptAnswer NoticeWithCheck(const std::string& text, const std::string& caption, PromptIcon icon,
                                 const std::string& rememberKey) override;
    std::optional<std::string> SaveFileName(const std::string& title, const std::string& filter,
                                            const std::string& defaultSuffix) override;
    bool OpenUrl(const std::string& url) override;

private:
    IPrompt& inner_;
};
