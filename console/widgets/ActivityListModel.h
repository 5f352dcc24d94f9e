#pragma once
// The rows of an activity window. A row keeps its cells packed in one text
// (a NUL after each cell), so a list of a million rows stays small; the
// first column, the row number, counts on from the first row kept.
//
// At most maxRows rows are kept: the oldest go as new ones come, and the
// numbers go on. Clear starts the numbers at 1 again.

#include <QAbstractTableModel>

#include <deque>
#include <string>
#include <vector>

class CActivityListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    static constexpr size_t kMaxRows = 1000000;

    CActivityListModel(const std::vector<std::string>& headers, QObject* parent = nullptr,
                       size_t maxRows = kMaxRows);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // cells: columns 1 and on.
    void AppendRows(const std::vector<std::vector<std::string>>& rows);
    // Frees the rows' storage, not only the rows.
    void Clear();
    std::string CellText(size_t row, size_t column) const;
    const std::vector<std::string>& Headers() const { return headers_; }
    // Bytes the rows take, roughly.
    size_t MemoryBytes() const;

private:
    std::string PackRow(const std::vector<std::string>& cells) const;

    std::vector<std::string> headers_;
    size_t maxRows_;
    std::deque<std::string> rows_;
    size_t firstNumber_ = 1;
};
