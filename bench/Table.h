#pragma once
// A plain text table: the first column left-aligned, the others right-aligned,
// each as wide as its widest cell.

#include <string>
#include <vector>

namespace tqbench {

class Table {
public:
    explicit Table(std::vector<std::string> header) : header_(std::move(header)) {}
    // Missing cells are empty, cells beyond the header's are dropped.
    void AddRow(std::vector<std::string> cells);
    // Every line indented by two blanks and ended by a line feed; a rule of
    // dashes under the header.
    std::string Render() const;

private:
    std::vector<std::string> header_;
    std::vector<std::vector<std::string>> rows_;
};

// Figures as the tables print them.
std::string FormatDuration(double nanoseconds);  // "850 ns", "12.3 us", "1.92 ms", "1.25 s"
std::string FormatCount(double value);           // "100,000" (rounded)
std::string FormatRatio(double ratio);           // "0.62", "12.4"
std::string FormatMegabytes(double bytesPerSecond);  // "845 MB/s" (10^6 bytes)
std::string FormatKilobytes(long kilobytes);     // "38.2 MiB"

} // namespace tqbench
