#pragma once

#include <QList>
#include <QPointF>
#include <QStringList>

#include <functional>

class QChart;
class QItemSelectionModel;
class ReportTableModel;

// Each report's chart, built from the detail rows of its grid in the order shown; the widget
// that shows it is ReportChart.

// What a chart draws: one list of points per series, x the bar's position or the day
// (milliseconds since the epoch), with the bars' labels in the order drawn.
struct ChartData
{
    QStringList categories;
    QStringList names;
    QList<QList<QPointF>> series;
};

// The card a ledger chart draws: the current row's (a subtotal's is the card above it), else
// the first card.
QString SelectedCard(const ReportTableModel &model, const QItemSelectionModel *selection);

// Draws report `rptId`'s chart into the empty `chart` and what it drew into `data`; a ledger
// asks `selectedCard` for its card and leaves it in `ledgerCard`. False when nothing is drawn.
bool BuildReportChart(qint32 rptId, const ReportTableModel &model, bool barsByValue,
                      const std::function<QString()> &selectedCard, QChart *chart, ChartData &data,
                      QString &ledgerCard);
