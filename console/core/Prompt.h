#pragma once
// Every message box, file dialog and URL opening of the console goes through
// one prompt, so that tests put a recording double in its place and no test
// ever waits on a modal window.

#include <optional>
#include <string>

enum class PromptButtons { Ok, OkCancel, YesNo, YesNoCancel };
enum class PromptIcon { None, Information, Question, Warning, Error };
enum class PromptAnswer { Ok, Cancel, Yes, No };

class IPrompt {
public:
    virtual ~IPrompt() = default;

    virtual PromptAnswer Message(const std::string& text, const std::string& caption,
                                 PromptButtons buttons, PromptIcon icon) = 0;

    // An OK notice with a "don't show this again" box. Once the user ticks it,
    // the notice remembered under rememberKey is not shown again (per user) and
    // the call answers Ok at once.
    virtual PromptAnswer NoticeWithCheck(const std::string& text, const std::string& caption,
                                         PromptIcon icon, const std::string& rememberKey) = 0;

    // The file the user chose to write, or nothing when the dialog was cancelled.
    // filter is a Qt-style name filter ("Text files (*.txt)"). The dialog adds
    // defaultSuffix ("txt") to a name that has none before it asks whether an
    // existing file may be replaced, so the name returned is the one to write.
    virtual std::optional<std::string> SaveFileName(const std::string& title, const std::string& filter,
                                                    const std::string& defaultSuffix) = 0;

    // Opens an address in the desktop's browser; false when nothing could open it.
    virtual bool OpenUrl(const std::string& url) = 0;
};
