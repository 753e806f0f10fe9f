#pragma once

#include "ReportChart.h"

#include <functional>

class QItemSelectionModel;

// Each report's chart, built from the detail rows of its grid in the order shown; the widget
// that shows it is ReportChart.

// The card a ledger chart draws: the current row's (a subtotal's is the card above it), else
// the first card.
QString SelectedCard(const ReportTableModel &model, const QItemSelectionModel *selection);

// Draws report `rptId`'s chart into the empty `chart` and what it drew into `data`; a ledger
// asks `selectedCard` for its card and leaves it in `ledgerCard`. False when nothing is drawn.
bool BuildReportChart(qint32 rptId, const ReportTableModel &model, bool barsByValue,
                      const std::function<QString()> &selectedCard, QChart *chart, ReportChart::Data &data,
                      QString &ledgerCard);
