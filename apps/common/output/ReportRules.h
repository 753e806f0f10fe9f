#pragma once

#include <QDate>
#include <QString>

// What each report offers beside its grid, in one table: where a double click on a row leads
// (DrillDown) and what its chart draws (ReportChartBuilders). Fields are record-set fields.
//   10901  card row → 10903 lines of that card in the ledger's month;
//          chart: the stored-value and points balances of one card through the month (the
//          selected card, else the first one)
//   10902  card row → 10903 lines of that card, same days (and the row's branch of sale when
//          the row is per branch); branch row → 10903 lines sold at that branch, same days;
//          chart: sales amount per value of the grouping column
//   10904  row → 10901 ledger of its card in the month of the row's date; chart: points per gift
//   10905  row → 10901 ledger of its card in the month of the row's date; chart: top-ups per
//          day as a line
//   10908  branch row → 10901 ledger of the cards that moved at that branch in the month
//   10909  card row (the list of cards over the limit) → 10901 ledger of its card in the month
//          of its last value movement
//   10903, 10906, 10910, 10911: rows lead nowhere, no chart.
namespace ReportRules {

enum class Drill {
    None,
    SalesToLines,      // 10902's rows by their grouping → 10903 over the same days
    CardToMonthLines,  // a card row of a monthly ledger → 10903 over that month
    CardToLedger,      // a dated card row → 10901 of the card in the row's month
    BranchToLedger,    // a branch row (`key`) of a monthly report → 10901 of that branch
};

enum class Chart {
    None,
    Bars,         // the sum of `value` per `key`, labelled by `label`
    DailyLine,    // the sum of `value` per day of `day`, across the filter's BDate..EDate
    CardLedger,   // one card's balances `value` and `value2` by `day`, through the month
};

struct Rule
{
    Drill drill = Drill::None;
    Chart chart = Chart::None;
    QString card;   // the row's card (drill-down, ledger chart)
    QString day;    // the row's date (drill-down to the ledger, day charts)
    QString key;
    QString label;
    QString value;
    QString value2;
    // The chart's title; "%1" stands for the caption of `key` (bars) or the card (ledger), "%2"
    // for the ledger's month.
    QString title;
};

// A ledger chart's title for `card` (left as "%1" when empty) in the month of `first`, the
// month's first day ("2024年11月"; nothing when invalid).
QString LedgerTitle(const Rule &rule, const QString &card, const QDate &first);

// The rule of a report; an empty one (no drill-down, no chart) for any other id.
const Rule &Of(qint32 rptId);

} // namespace ReportRules
