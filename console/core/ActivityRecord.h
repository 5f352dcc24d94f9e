#pragma once
// One log record as the activity window reads it: nine "|"-separated fields
// (kind, code, result, caller, message, source file, function, line, thread)
// and the cells of its row.

#include <array>
#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

class CActivityRecord {
public:
    static constexpr size_t kFieldCount = 9;
    // Columns of the list: nine, or twelve with the source columns.
    static constexpr size_t kColumns = 9;
    static constexpr size_t kExtraColumns = 12;

    // Splits like strtok: runs of "|" count as one separator and a leading
    // "|" is skipped, so an empty field moves the later ones up; fields the
    // text lacks are empty; a tenth field and beyond are dropped.
    static CActivityRecord Parse(std::string_view text);

    const std::string& Field(size_t number) const { return fields_[number - 1]; } // 1-based
    int32_t Type() const;
    int32_t Result() const;

    static std::string TypeText(int32_t type);
    // "Succeeded", or "Failed: 0x%.8X" with " (system text)" when the system
    // has a text for the code; the text's line end is left out.
    static std::string ResultText(int32_t result);
    // A successful call start is not shown.
    bool IsShown() const;

    // Cells 1 to 8, and 9 to 11 with extraInfo, of the row; the first
    // column, the row number, belongs to the list.
    std::vector<std::string> Cells(const std::string& date, const std::string& time, const std::string& computer,
                                   bool extraInfo) const;

    static const std::vector<std::string>& Headers(bool extraInfo);
    // "MM/DD/YYYY" and "HH:MM:SS" of a local time.
    static std::string DateText(const std::tm& local);
    static std::string TimeText(const std::tm& local);

private:
    std::array<std::string, kFieldCount> fields_;
};
