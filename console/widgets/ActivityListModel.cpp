#include "console/widgets/ActivityListModel.h"

#include <cstring>

CActivityListModel::CActivityListModel(const std::vector<std::string>& headers, QObject* parent, size_t maxRows)
    : QAbstractTableModel(parent), headers_(headers), maxRows_(maxRows > 0 ? maxRows : 1)
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

std::string CActivityListModel::PackRow(const std::vector<std::string>& cells) const
{
    std::string packed;
    for (size_t c = 0; c + 1 < headers_.size(); ++c) {
        if (c < cells.size())
            packed.append(cells[c].c_str()); // a cell ends at a NUL
        packed.push_back('\0');
    }
    packed.shrink_to_fit();
    return packed;
}

void CActivityListModel::AppendRows(const std::vector<std::vector<std::string>>& rows)
{
    if (rows.empty())
        return;
    // A burst longer than the limit keeps only its newest rows, and pushes
    // out every row there was.
    const size_t skipped = rows.size() > maxRows_ ? rows.size() - maxRows_ : 0;
    const size_t added = rows.size() - skipped;
    const size_t dropped = rows_.size() + added > maxRows_ ? rows_.size() + added - maxRows_ : 0;
    if (dropped > 0) {
        beginRemoveRows({}, 0, static_cast<int>(dropped) - 1);
        rows_.erase(rows_.begin(), rows_.begin() + static_cast<std::ptrdiff_t>(dropped));
        firstNumber_ += dropped;
        endRemoveRows();
    }
    firstNumber_ += skipped;
    const int first = static_cast<int>(rows_.size());
    beginInsertRows({}, first, first + static_cast<int>(added) - 1);
    for (size_t r = skipped; r < rows.size(); ++r)
        rows_.push_back(PackRow(rows[r]));
    endInsertRows();
}

void CActivityListModel::Clear()
{
    beginResetModel();
    std::deque<std::string>().swap(rows_); // nothing of the old storage stays
    firstNumber_ = 1;
    endResetModel();
}

std::string CActivityListModel::CellText(size_t row, size_t column) const
{
    if (row >= rows_.size() || column >= headers_.size())
        return {};
    if (column == 0)
        return std::to_string(firstNumber_ + row);
    const std::string& packed = rows_[row];
    size_t at = 0;
    for (size_t c = 1; c < column; ++c)
        at = packed.find('\0', at) + 1;
    return std::string(packed.c_str() + at);
}

size_t CActivityListModel::MemoryBytes() const
{
    size_t bytes = rows_.size() * sizeof(std::string);
    for (const auto& r : rows_)
        if (r.capacity() > 15)
            bytes += r.capacity() + 1;
    return bytes;
}
