#include "bench/Table.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace tqbench {

void Table::AddRow(std::vector<std::string> cells)
{
    cells.resize(header_.size());
    rows_.push_back(std::move(cells));
}

std::string Table::Render() const
{
    std::vector<size_t> width(header_.size());
    for (size_t c = 0; c < header_.size(); ++c) {
        width[c] = header_[c].size();
        for (const auto& row : rows_)
            width[c] = std::max(width[c], row[c].size());
    }
    auto line = [&](const std::vector<std::string>& cells) {
        std::string out = "  ";
        for (size_t c = 0; c < cells.size(); ++c) {
            const std::string pad(width[c] - cells[c].size(), ' ');
            if (c > 0)
                out += "  ";
            out += c == 0 ? cells[c] + pad : pad + cells[c];
        }
        while (!out.empty() && out.back() == ' ')
            out.pop_back();
        return out + "\n";
    };
    std::string out = line(header_);
    size_t total = 0;
    for (size_t c = 0; c < width.size(); ++c)
        total += width[c] + (c > 0 ? 2 : 0);
    out += "  " + std::string(total, '-') + "\n";
    for (const auto& row : rows_)
        out += line(row);
    return out;
}

std::string FormatDuration(double ns)
{
    if (ns < 0)
        return "-" + FormatDuration(-ns);
    char text[32];
    if (ns < 1e3)
        std::snprintf(text, sizeof text, "%.0f ns", ns);
    else if (ns < 1e4)
        std::snprintf(text, sizeof text, "%.2f us", ns / 1e3);
    else if (ns < 1e6)
        std::snprintf(text, sizeof text, "%.1f us", ns / 1e3);
    else if (ns < 1e9)
        std::snprintf(text, sizeof text, "%.2f ms", ns / 1e6);
    else
        std::snprintf(text, sizeof text, "%.2f s", ns / 1e9);
    return text;
}

std::string FormatCount(double value)
{
    const bool negative = value < 0;
    auto whole = static_cast<unsigned long long>(std::llround(std::fabs(value)));
    std::string digits = std::to_string(whole);
    std::string out;
    for (size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0)
            out += ',';
        out += digits[i];
    }
    return negative ? "-" + out : out;
}

std::string FormatRatio(double ratio)
{
    char text[32];
    std::snprintf(text, sizeof text, ratio < 10 ? "%.2f" : "%.1f", ratio);
    return text;
}

std::string FormatMegabytes(double bytesPerSecond)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.0f MB/s", bytesPerSecond / 1e6);
    return text;
}

std::string FormatKilobytes(long kilobytes)
{
    if (kilobytes < 0)
        return "?";
    char text[32];
    std::snprintf(text, sizeof text, "%.1f MiB", static_cast<double>(kilobytes) / 1024.0);
    return text;
}

} // namespace tqbench
