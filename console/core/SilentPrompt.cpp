#include "console/core/SilentPrompt.h"

PromptAnswer CSilentPrompt::Message(const std::string&, const std::string&, PromptButtons, PromptIcon)
{
    return PromptAnswer::Ok;
}

PromptAnswer CSilentPrompt::NoticeWithCheck(const std::string&, const std::string&, PromptIcon, const std::string&)
{
    return PromptAnswer::Ok;
}

std::optional<std::string> CSilentPrompt::SaveFileName(const std::string&, const std::string&, const std::string&)
{
    return std::nullopt;
}

bool CSilentPrompt::OpenUrl(const std::string&)
{
    return false;
}
