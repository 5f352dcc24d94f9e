#pragma once
// A prompt for runs without a person (benchmarks, screenshots): it shows
// nothing, answers every box as if OK was pressed, chooses no file and opens
// no address.

#include "console/core/Prompt.h"

class CSilentPrompt : public IPrompt {
public:
    PromptAnswer Message(const std::string& text, const std::string& caption, PromptButtons buttons,
                         PromptIcon icon) override;
    PromptAnswer NoticeWithCheck(const std::string& text, const std::string& caption, PromptIcon icon,
                                 const std::string& rememberKey) override;
    std::optional<std::string> SaveFileName(const std::string& title, const std::string& filter,
                                            const std::string& defaultSuffix) override;
    bool OpenUrl(const std::string& url) override;
};
