#include "console/core/ActivityRecord.h"

#include "console/core/AtoiText.h"
#include "platform/win/SystemMessage.h"

#include <cstdio>

CActivityRecord CActivityRecord::Parse(std::string_view text)
{
    CActivityRecord record;
    size_t field = 0;
    size_t at = 0;
    while (field < kFieldCount) {
        at = text.find_first_not_of('|', at);
        if (at == std::string_view::npos)
            break;
        size_t end = text.find('|', at);
        if (end == std::string_view::npos)
            end = text.size();
        record.fields_[field++] = std::string(text.substr(at, end - at));
        at = end;
    }
    return record;
}

int32_t CActivityRecord::Type() const
{
    return AtoiText(Field(1));
}

int32_t CActivityRecord::Result() const
{
    return AtoiText(Field(3));
}

std::string CActivityRecord::TypeText(int32_t type)
{
    switch (type) {
    case 0:
        return "Function Call";
    case 1:
        return "Function Return";
    case 2:
        return "Exception";
    case 3:
        return "System";
    default:
        return "Unknown";
    }
}

std::string CActivityRecord::ResultText(int32_t result)
{
    if (result >= 0)
        return "Succeeded";
    char head[32];
    std::snprintf(head, sizeof head, "Failed: 0x%.8X", static_cast<unsigned>(static_cast<uint32_t>(result)));
    std::string text = GetSystemMessageText(static_cast<uint32_t>(result));
    // One cell, one line: a saved row must not break in two.
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    if (text.empty())
        return head;
    return std::string(head) + " (" + text + ")";
}

bool CActivityRecord::IsShown() const
{
    return !(Type() == 0 && Result() >= 0);
}

std::vector<std::string> CActivityRecord::Cells(const std::string& date, const std::string& time,
                                                const std::string& computer, bool extraInfo) const
{
    std::vector<std::string> cells{date, time, Field(9), computer, Field(5), ResultText(Result()), Field(2),
                                   TypeText(Type())};
    if (extraInfo) {
        cells.push_back(Field(6));
        cells.push_back(Field(7));
        cells.push_back(Field(8));
    }
    return cells;
}

const std::vector<std::string>& CActivityRecord::Headers(bool extraInfo)
{
    static const std::vector<std::string> plain{"#",        "Date",   "Time",     "Connection", "Computer",
                                                "Details", "Result", "Function", "Type"};
    static const std::vector<std::string> extra = [] {
        std::vector<std::string> all = plain;
        all.insert(all.end(), {"Source File", "Source Function", "Source Line"});
        return all;
    }();
    return extraInfo ? extra : plain;
}

std::string CActivityRecord::DateText(const std::tm& local)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.2u/%.2u/%.4u", static_cast<unsigned>(local.tm_mon + 1),
                  static_cast<unsigned>(local.tm_mday), static_cast<unsigned>(local.tm_year + 1900));
    return text;
}

std::string CActivityRecord::TimeText(const std::tm& local)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.2u:%.2u:%.2u", static_cast<unsigned>(local.tm_hour),
                  static_cast<unsigned>(local.tm_min), static_cast<unsigned>(local.tm_sec));
    return text;
}
