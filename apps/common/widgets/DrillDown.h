#pragma once

#include "ReportOutput.h"

#include <optional>

// Where a double click on a report row leads: a detail report for the row's card over the
// same period, run through Application like any other report.
//   10902 row          → 10903 lines of that card, same days
//   10901 card row     → 10903 lines of that card in the ledger's month
//   10904 / 10905 row  → 10901 ledger of that card in the month of the row's date
// Rows without a card (totals, and the subtotals of 10902's branch, card type and
// salesperson groupings, which 10903's filter cannot express) lead nowhere.
namespace DrillDown {

struct Target
{
    qint32 rptId = 0;
    DictionaryPtr filter;
    // What the detail is filtered to, for its tab: "会员卡 V0001".
    QString label;
};

// The target of the record-set row, if it has one.
std::optional<Target> ForRow(const ReportOutput &report, qint64 sourceRow);

} // namespace DrillDown
