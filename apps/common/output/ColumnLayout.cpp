#include "ColumnLayout.h"

#include <QHash>

ColumnLayout ColumnLayout::FromHeader(const VectorPtr &header)
{
    QList<ReportColumn> columns;
    for (const HeaderColumn &h : ReadHeaderColumns(header)) {
        ReportColumn col;
        static_cast<HeaderColumn &>(col) = h;
        col.kind = ColumnKindFromType(h.colType);
        columns.append(std::move(col));
    }
    return ColumnLayout(columns);
}

ColumnLayout ColumnLayout::VisibleOnly() const
{
    QList<ReportColumn> visible;
    QHash<int, int> newGroupStart;   // old group start -> new position of its first visible member
    for (int i = 0; i < m_columns.size(); ++i) {
        ReportColumn col = m_columns.at(i);
        if (!col.visible)
            continue;
        if (col.IsGrouped()) {
            auto it = newGroupStart.find(col.group);
            if (it == newGroupStart.end())
                it = newGroupStart.insert(col.group, int(visible.size()));
            col.group = *it;
        }
        visible.append(col);
    }
    return ColumnLayout(visible);
}

int ColumnLayout::HeaderRows() const
{
    for (const ReportColumn &c : m_columns)
        if (c.IsGrouped())
            return 2;
    return 1;
}

std::pair<int, int> ColumnLayout::GroupRange(int c) const
{
    const ReportColumn &col = m_columns.at(c);
    if (!col.IsGrouped())
        return {c, c};
    int first = c;
    while (first > 0 && m_columns.at(first - 1).group == col.group)
        --first;
    int last = c;
    while (last + 1 < m_columns.size() && m_columns.at(last + 1).group == col.group)
        ++last;
    return {first, last};
}

QList<HeaderCell> ColumnLayout::Cells() const
{
    const int rows = HeaderRows();
    QList<HeaderCell> top, bottom;
    for (int c = 0; c < m_columns.size();) {
        const ReportColumn &col = m_columns.at(c);
        if (!col.IsGrouped()) {
            top.append({0, c, rows, 1, col.topCaption});
            ++c;
            continue;
        }
        const auto [first, last] = GroupRange(c);
        top.append({0, first, 1, last - first + 1, col.topCaption});
        for (int m = first; m <= last; ++m)
            bottom.append({1, m, 1, 1, m_columns.at(m).subCaption});
        c = last + 1;
    }
    return top + bottom;
}
