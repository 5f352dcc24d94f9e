#pragma once
// A prompt that shows nothing: it records every request and answers from a
// queue the test fills (Ok, or no file, when the queue is empty); a file name
// gets the default suffix as the dialog would add it. onRecord,
// when set, sees each request as it comes, while the caller waits for it.

#include "console/core/Prompt.h"

#include <deque>
#include <functional>
#include <string>
#include <vector>

struct PromptRecord {
    std::string kind; // "message", "notice", "save", "url"
    std::string text;
    std::string caption;
    PromptButtons buttons = PromptButtons::Ok;
    PromptIcon icon = PromptIcon::None;
    std::string defaultSuffix; // "save": what the dialog adds to a name without one
};

class RecordingPrompt : public IPrompt {
public:
    PromptAnswer Message(const std::string& text, const std::string& caption, PromptButtons buttons,
                         PromptIcon icon) override
    {
        Record({"message", text, caption, buttons, icon});
        return NextAnswer();
    }
    PromptAnswer NoticeWithCheck(const std::string& text, const std::string& caption, PromptIcon icon,
                                 const std::string& rememberKey) override
    {
        Record({"notice", text, caption, PromptButtons::Ok, icon});
        lastRememberKey = rememberKey;
        return PromptAnswer::Ok;
    }
    std::optional<std::string> SaveFileName(const std::string& title, const std::string&,
                                            const std::string& defaultSuffix) override
    {
        Record({"save", title, {}, PromptButtons::Ok, PromptIcon::None, defaultSuffix});
        if (files.empty())
            return std::nullopt;
        std::string name = files.front();
        files.pop_front();
        // As the dialog does: the suffix goes to a file name without a point.
        if (!defaultSuffix.empty() && name.substr(name.find_last_of('/') + 1).find('.') == std::string::npos)
            name += "." + defaultSuffix;
        return name;
    }
    bool OpenUrl(const std::string& url) override
    {
        Record({"url", url, {}, PromptButtons::Ok, PromptIcon::None});
        return true;
    }

    std::deque<PromptAnswer> answers;
    std::function<void(const PromptRecord&)> onRecord;
    std::deque<std::string> files;
    std::vector<PromptRecord> records;
    std::string lastRememberKey;

private:
    void Record(PromptRecord record)
    {
        records.push_back(std::move(record));
        if (onRecord)
            onRecord(records.back());
    }
    PromptAnswer NextAnswer()
    {
        if (answers.empty())
            return PromptAnswer::Ok;
        PromptAnswer a = answers.front();
        answers.pop_front();
        return a;
    }
};
