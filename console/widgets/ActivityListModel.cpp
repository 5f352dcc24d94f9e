#include "console/widgets/ActivityListModel.h"

#include <cstring>

CActivityListModel::CActivityListModel(const std::vector<std::string>& headers, QObject* parent)
    : QAbstractTableModel(parent), headers_(headers)
{
}

int CActivityListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int CActivityListModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(headers_.size());
}

QVariant CActivityListModel::data(const QModelIndex& index, int role) const
{
    if (role != Qt::DisplayRole || !index.isValid())
        return {};
    return QString::fromLocal8Bit(CellText(static_cast<size_t>(index.row()), static_cast<size_t>(index.column())));
}

QVariant CActivityListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole || orientation != Qt::Horizontal || section < 0 ||
        static_cast<size_t>(section) >= headers_.size())
        return QAbstractTableModel::headerData(section, orientation, role);
    return QString::fromLatin1(headers_[static_cast<size_t>(section)]);
}

void CActivityListModel::AppendRows(const std::vector<std::vector<std::string>>& rows)
{
    if (rows.empty())
        return;
    const int first = static_cast<int>(rows_.size());
    beginInsertRows({}, first, first + static_cast<int>(rows.size()) - 1);
    for (const auto& cells : rows) {
        std::string packed;
        for (size_t c = 0; c + 1 < headers_.size(); ++c) {
            if (c < cells.size())
                packed.append(cells[c].c_str()); // a cell ends at a NUL
            packed.push_back('\0');
        }
        packed.shrink_to_fit();
        rows_.push_back(std::move(packed));
    }
    endInsertRows();
}

void CActivityListModel::Clear()
{
    beginResetModel();
    rows_.clear();
    rows_.shrink_to_fit();
    endResetModel();
}

std::string CActivityListModel::CellText(size_t row, size_t column) const
{
    if (row >= rows_.size() || column >= headers_.size())
        return {};
    if (column == 0)
        return std::to_string(row + 1);
    const std::string& packed = rows_[row];
    size_t at = 0;
    for (size_t c = 1; c < column; ++c)
        at = packed.find('\0', at) + 1;
    return std::string(packed.c_str() + at);
}

size_t CActivityListModel::MemoryBytes() const
{
    size_t bytes = rows_.capacity() * sizeof(std::string);
    for (const auto& r : rows_)
        if (r.capacity() > 15)
            bytes += r.capacity() + 1;
    return bytes;
}
