#pragma once
// The rows of an activity window. A row keeps its cells packed in one text
// (a NUL after each cell), so a list of a million rows stays small; the
// first column, the row number, is the row's position plus one.

#include <QAbstractTableModel>

#include <string>
#include <vector>

class CActivityListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    CActivityListModel(const std::vector<std::string>& headers, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // cells: columns 1 and on.
    void AppendRows(const std::vector<std::vector<std::string>>& rows);
    void Clear();
    std::string CellText(size_t row, size_t column) const;
    const std::vector<std::string>& Headers() const { return headers_; }
    // Bytes the rows take, roughly.
    size_t MemoryBytes() const;

private:
    std::vector<std::string> headers_;
    std::vector<std::string> rows_;
};
