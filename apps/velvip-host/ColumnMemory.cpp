#include "ColumnMemory.h"

#include "FrozenTableView.h"
#include "ReportTableModel.h"
#include "ReportView.h"

#include <QHeaderView>
#include <QSettings>

namespace {

QString settingsKey(qint32 rptId)
{
    return QStringLiteral("columns/%1").arg(rptId);
}

// The last frozen column's key, "" for none; absent while the report's own count holds.
QString frozenKey(qint32 rptId)
{
    return QStringLiteral("frozen/%1").arg(rptId);
}

QString columnKey(const ReportColumn &column)
{
    return column.field + QLatin1Char('\t') + column.FlatCaption();
}

} // namespace

ColumnMemory::ColumnMemory(ReportView *view, qint32 rptId) : QObject(view), m_view(view), m_rptId(rptId)
{
    connect(view->Table()->horizontalHeader(), &QHeaderView::sectionResized, this, [this](int column, int, int width) {
        if (!m_applying && width > 0)
            save(column);
    });
    connect(view, &ReportView::ColumnsChanged, this, [this] {
        if (!m_applying)
            save(-1);
    });
    connect(view, &ReportView::FrozenColumnsChanged, this, [this] {
        QSettings settings;
        const int frozen = m_view->FrozenColumns();
        if (frozen == m_view->DefaultFrozenColumns())
            settings.remove(frozenKey(m_rptId));
        else
            settings.setValue(frozenKey(m_rptId),
                              frozen == 0 ? QString() : columnKey(m_view->Model()->Layout().Columns().at(frozen - 1)));
    });
}

void ColumnMemory::Show(const ReportOutput &report)
{
    m_applying = true;
    m_view->SetReport(report);
    const QVariantMap saved = QSettings().value(settingsKey(m_rptId)).toMap();
    const QList<ReportColumn> &columns = m_view->Model()->Layout().Columns();
    FrozenTableView *table = m_view->Table();
    for (int c = 0; c < columns.size(); ++c) {
        const QVariantList entry = saved.value(columnKey(columns.at(c))).toList();
        if (entry.size() != 2)
            continue;
        const bool shown = entry.at(1).toBool();
        if (shown == table->isColumnHidden(c))
            table->SetColumnShown(c, shown);
        if (shown && entry.at(0).toInt() > 0)
            table->setColumnWidth(c, entry.at(0).toInt());
        else if (shown && table->columnWidth(c) < 20)
            table->setColumnWidth(c, 90);
    }
    // A frozen column the report no longer has leaves the report's own count.
    const QVariant frozen = QSettings().value(frozenKey(m_rptId));
    if (frozen.isValid()) {
        const QString last = frozen.toString();
        for (int c = 0; c < columns.size(); ++c)
            if (last.isEmpty() || columnKey(columns.at(c)) == last) {
                m_view->SetFrozenColumns(last.isEmpty() ? 0 : c + 1);
                break;
            }
    }
    m_applying = false;
}

void ColumnMemory::save(int resized)
{
    QSettings settings;
    QVariantMap saved = settings.value(settingsKey(m_rptId)).toMap();
    const QList<ReportColumn> &columns = m_view->Model()->Layout().Columns();
    const FrozenTableView *table = m_view->Table();
    for (int c = 0; c < columns.size(); ++c) {
        const QString key = columnKey(columns.at(c));
        // Width 0: not resized by the user, the view sizes it.
        const int width = c == resized ? table->columnWidth(c) : saved.value(key).toList().value(0).toInt();
        saved.insert(key, QVariantList{width, !table->isColumnHidden(c)});
    }
    settings.setValue(settingsKey(m_rptId), saved);
}
