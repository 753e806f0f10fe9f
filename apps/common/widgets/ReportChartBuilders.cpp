#include "ReportChartBuilders.h"

#include "Dictionary.h"
#include "ReportGrid.h"
#include "ReportRules.h"
#include "ReportTableModel.h"
#include "TabTitle.h"
#include "ValueFormat.h"

#include <QAreaSeries>
#include <QCategoryAxis>
#include <QChart>
#include <QItemSelectionModel>
#include <QLineSeries>
#include <QMap>
#include <QRegularExpression>

#include <algorithm>
#include <cmath>
#include <numeric>

// Bars per value of a column, a day's totals as a line and a card's balances through the month,
// with the axes they need; which report draws which, from what fields, is in ReportRules.
namespace {

struct Column
{
    int index = -1;
    ColumnKind kind = ColumnKind::Text;
    QString caption;
};

Column columnOf(const ReportTableModel &model, const QString &field)
{
    if (field.isEmpty())
        return {};
    const QList<ReportColumn> &columns = model.Layout().Columns();
    for (int c = 0; c < columns.size(); ++c)
        if (columns.at(c).field.compare(field, Qt::CaseInsensitive) == 0)
            return {c, columns.at(c).kind, columns.at(c).IsGrouped() ? columns.at(c).subCaption : columns.at(c).topCaption};
    return {};
}

bool isDetail(const ReportTableModel &model, int row)
{
    return model.index(row, 0).data(ReportTableModel::RowKindRole).toInt() == int(RowKind::Detail);
}

QString textAt(const ReportTableModel &model, int row, const Column &column)
{
    return column.index < 0 ? QString() : model.index(row, column.index).data().toString().trimmed();
}

double numberAt(const ReportTableModel &model, int row, const Column &column)
{
    double value = 0;
    if (column.index < 0 || !Present::NumericValue(model.index(row, column.index).data(ReportTableModel::RawValueRole), &value))
        return 0;
    return value;
}

qint64 dayAt(const ReportTableModel &model, int row, const Column &column)
{
    const QDate day = column.index < 0 ? QDate()
        : TabTitle::DateOf(model.index(row, column.index).data(ReportTableModel::RawValueRole));
    return day.isValid() ? day.startOfDay().toMSecsSinceEpoch() : -1;
}

// A value axis whose labels are written as the grid writes the column's numbers, without the
// decimals when every tick is a whole number; whole values get whole steps.
QCategoryAxis *valueAxis(double low, double high, ColumnKind kind, bool wholeValues)
{
    double span = high - low;
    if (span <= 0)
        span = qMax(1.0, std::abs(high));
    const double raw = span / 6;
    const double magnitude = std::pow(10.0, std::floor(std::log10(raw)));
    const double norm = raw / magnitude;
    double step = (norm <= 1 ? 1 : norm <= 2 ? 2 : norm <= 5 ? 5 : 10) * magnitude;
    step = qMax(step, wholeValues ? 1.0 : std::pow(10.0, -Present::DecimalsOf(kind)));
    const double from = std::floor(low / step) * step;
    double to = std::ceil(high / step) * step;
    if (to <= from)
        to = from + step;
    const bool wholeTicks = step == std::trunc(step);
    static const QRegularExpression decimals(QStringLiteral("\\.0+$"));
    auto *axis = new QCategoryAxis;
    axis->setLabelsPosition(QCategoryAxis::AxisLabelsPositionOnValue);
    axis->setStartValue(from - step);
    for (int i = 0; from + i * step <= to + step / 2; ++i) {
        const double value = wholeTicks ? std::round(from + i * step) : from + i * step;
        QString label = Present::FormatValue(std::abs(value) < step / 2 ? 0.0 : value, kind, FormatStyle::Grid);
        if (wholeTicks)
            label.remove(decimals);
        axis->append(label, value);
    }
    axis->setRange(from, to);
    return axis;
}

bool allWhole(const QList<double> &values)
{
    return std::all_of(values.cbegin(), values.cend(), [](double v) { return v == std::trunc(v); });
}

qint64 msecsOf(const QDate &day)
{
    return day.startOfDay().toMSecsSinceEpoch();
}

// Days from `first` to `last`, the axis starting on the first: a label every few days (every
// five across a month), each on a day's start.
QCategoryAxis *dayAxis(const QDate &first, const QDate &last)
{
    const qint64 span = first.daysTo(last);
    const int step = int(qMax<qint64>(1, (span + 5) / 6));
    auto *axis = new QCategoryAxis;
    axis->setLabelsPosition(QCategoryAxis::AxisLabelsPositionOnValue);
    axis->setTitleText(QStringLiteral("日期"));
    axis->setStartValue(double(msecsOf(first.addDays(-step))));
    for (QDate day = first; day <= last; day = day.addDays(step))
        axis->append(day.toString(QStringLiteral("MM-dd")), double(msecsOf(day)));
    constexpr qint64 kHalfDay = 12 * 3600 * 1000;
    if (span == 0)
        axis->setRange(double(msecsOf(first) - kHalfDay), double(msecsOf(first) + kHalfDay));
    else
        axis->setRange(double(msecsOf(first)), double(msecsOf(last)));
    return axis;
}

// The period a filter names by its begin and end date keys, widened to the days drawn.
std::pair<QDate, QDate> periodOf(const DictionaryPtr &filter, const QString &beginKey, const QString &endKey,
                                 qint64 firstDrawn, qint64 lastDrawn)
{
    QDate first = TabTitle::DateOf(filter->Value(beginKey)), last = TabTitle::DateOf(filter->Value(endKey));
    const QDate drawnFirst = QDateTime::fromMSecsSinceEpoch(firstDrawn).date();
    const QDate drawnLast = QDateTime::fromMSecsSinceEpoch(lastDrawn).date();
    first = first.isValid() ? qMin(first, drawnFirst) : drawnFirst;
    last = last.isValid() && last >= first ? qMax(last, drawnLast) : drawnLast;
    return {first, last};
}

} // namespace

QString SelectedCard(const ReportTableModel &model, const QItemSelectionModel *selection)
{
    const qint32 rptId = model.Report().filter ? model.Report().filter->Value(QStringLiteral("RptID")).toInt() : 0;
    const Column card = columnOf(model, ReportRules::Of(rptId).card);
    const int rows = model.rowCount();
    int row = selection && selection->currentIndex().isValid() ? selection->currentIndex().row() : 0;
    // A subtotal belongs to the card above it.
    while (row > 0 && !isDetail(model, row))
        --row;
    while (row < rows && !isDetail(model, row))
        ++row;
    return row < rows ? textAt(model, row, card) : QString();
}

namespace {

// Sums of `valueField` per value of `keyField` over the detail rows, labelled by `labelField`
// (a label two keys share gets the key beside it), in the grid's order or largest first.
struct BarSums
{
    Column key, label, value;
    QStringList labels;
    QList<double> sums;
};

BarSums sumBars(const ReportTableModel &model, const ReportRules::Rule &rule, bool barsByValue)
{
    BarSums bars{columnOf(model, rule.key), columnOf(model, rule.label), columnOf(model, rule.value), {}, {}};
    QStringList keys;
    for (int r = 0; r < model.rowCount(); ++r) {
        if (!isDetail(model, r))
            continue;
        const QString k = textAt(model, r, bars.key);
        qsizetype i = keys.indexOf(k);
        if (i < 0) {
            QString text = textAt(model, r, bars.label);
            if (text.isEmpty())
                text = QStringLiteral("（无）");
            if (bars.labels.contains(text))
                text += QStringLiteral("（%1）").arg(k);
            i = keys.size();
            keys << k;
            bars.labels << text;
            bars.sums << 0.0;
        }
        bars.sums[i] += numberAt(model, r, bars.value);
    }
    if (barsByValue) {
        // Largest first; equal values keep the grid's order.
        QList<int> order(bars.sums.size());
        std::iota(order.begin(), order.end(), 0);
        std::stable_sort(order.begin(), order.end(), [&](int a, int b) { return bars.sums[a] > bars.sums[b]; });
        QStringList sortedLabels;
        QList<double> sortedSums;
        for (int i : order) {
            sortedLabels << bars.labels[i];
            sortedSums << bars.sums[i];
        }
        bars.labels = sortedLabels;
        bars.sums = sortedSums;
    }
    return bars;
}

// The bars as one area whose outline steps up and down around each bar: Qt Charts' own bar
// series cannot be used in this process (see ReportChart.h).
QAreaSeries *barSeries(const QList<double> &sums)
{
    constexpr double kHalfBar = 0.35;
    auto *outline = new QLineSeries;
    auto *base = new QLineSeries;
    for (int i = 0; i < sums.size(); ++i)
        outline->append({QPointF(i - kHalfBar, 0), QPointF(i - kHalfBar, sums[i]), QPointF(i + kHalfBar, sums[i]),
                         QPointF(i + kHalfBar, 0)});
    base->append({QPointF(-0.5, 0), QPointF(sums.size() - 0.5, 0)});
    return new QAreaSeries(outline, base);
}

// One label under each bar's middle.
QCategoryAxis *barAxis(const QStringList &labels, const QString &title)
{
    auto *x = new QCategoryAxis;
    x->setLabelsPosition(QCategoryAxis::AxisLabelsPositionCenter);
    x->setStartValue(-0.5);
    for (int i = 0; i < labels.size(); ++i)
        x->append(labels[i], i + 0.5);
    x->setRange(-0.5, labels.size() - 0.5);
    x->setGridLineVisible(false);
    x->setTitleText(title);
    if (labels.size() > 8)
        x->setLabelsAngle(-90);
    return x;
}

bool drawBars(const ReportTableModel &model, const ReportRules::Rule &rule, bool barsByValue, QChart *chart,
              ChartData &data)
{
    const BarSums bars = sumBars(model, rule, barsByValue);
    if (bars.sums.isEmpty())
        return false;
    QAreaSeries *series = barSeries(bars.sums);
    series->setName(bars.value.caption);
    series->setBorderColor(series->color().darker(130));
    chart->addSeries(series);
    QCategoryAxis *x = barAxis(bars.labels, bars.label.caption);
    // One series: the title and the value axis say what the bars are.
    chart->legend()->hide();
    chart->addAxis(x, Qt::AlignBottom);
    series->attachAxis(x);
    const auto [low, high] = std::minmax_element(bars.sums.cbegin(), bars.sums.cend());
    QCategoryAxis *y = valueAxis(qMin(0.0, *low), qMax(0.0, *high), bars.value.kind, allWhole(bars.sums));
    chart->addAxis(y, Qt::AlignLeft);
    series->attachAxis(y);
    data.categories = bars.labels;
    data.names = {bars.value.caption};
    QList<QPointF> points;
    for (int i = 0; i < bars.sums.size(); ++i)
        points << QPointF(i, bars.sums[i]);
    data.series = {points};
    chart->setTitle(rule.title.contains(QLatin1String("%1")) ? rule.title.arg(bars.key.caption) : rule.title);
    return true;
}

bool drawDailyLine(const ReportTableModel &model, const ReportRules::Rule &rule, QChart *chart, ChartData &data)
{
    const Column day = columnOf(model, rule.day), amount = columnOf(model, rule.value);
    QMap<qint64, double> perDay;
    for (int r = 0; r < model.rowCount(); ++r)
        if (isDetail(model, r) && dayAt(model, r, day) >= 0)
            perDay[dayAt(model, r, day)] += numberAt(model, r, amount);
    if (perDay.isEmpty())
        return false;
    auto *series = new QLineSeries;
    series->setName(QStringLiteral("%1（每日合计）").arg(amount.caption));
    series->setPointsVisible(true);
    for (auto it = perDay.cbegin(); it != perDay.cend(); ++it)
        series->append(double(it.key()), it.value());
    data.names = {series->name()};
    data.series = {series->points()};
    chart->addSeries(series);
    const auto [first, last] = periodOf(model.Report().filter, QStringLiteral("BDate"), QStringLiteral("EDate"),
                                        perDay.firstKey(), perDay.lastKey());
    QCategoryAxis *x = dayAxis(first, last);
    chart->addAxis(x, Qt::AlignBottom);
    series->attachAxis(x);
    const auto [low, high] = std::minmax_element(perDay.cbegin(), perDay.cend());
    QCategoryAxis *y = valueAxis(qMin(0.0, *low), *high, amount.kind, allWhole(perDay.values()));
    chart->addAxis(y, Qt::AlignLeft);
    series->attachAxis(y);
    chart->setTitle(rule.title);
    return true;
}

// One card's rows of a ledger: its stored value and its points per movement, by day.
struct CardRows
{
    QList<QPointF> stored, points;
    qint64 first = -1, last = -1;
    double storedLow = 0, storedHigh = 0, pointsLow = 0, pointsHigh = 0;
};

CardRows cardRows(const ReportTableModel &model, const QString &card, const Column &cardColumn, const Column &day,
                  const Column &stored, const Column &points)
{
    CardRows rows;
    for (int r = 0; r < model.rowCount(); ++r) {
        if (!isDetail(model, r) || textAt(model, r, cardColumn) != card)
            continue;
        const qint64 x = dayAt(model, r, day);
        if (x < 0)
            continue;
        rows.first = rows.first < 0 ? x : qMin(rows.first, x);
        rows.last = qMax(rows.last, x);
        const double s = numberAt(model, r, stored), p = numberAt(model, r, points);
        rows.stored << QPointF(double(x), s);
        rows.points << QPointF(double(x), p);
        rows.storedLow = qMin(rows.storedLow, s), rows.storedHigh = qMax(rows.storedHigh, s);
        rows.pointsLow = qMin(rows.pointsLow, p), rows.pointsHigh = qMax(rows.pointsHigh, p);
    }
    return rows;
}

// A balance holds until the next movement: drawn as steps through each row's value.
QLineSeries *balanceSteps(const QString &name, const QList<QPointF> &rows)
{
    auto *line = new QLineSeries;
    line->setName(name);
    for (int i = 0; i < rows.size(); ++i) {
        if (i > 0)
            line->append(rows[i].x(), rows[i - 1].y());
        line->append(rows[i]);
    }
    line->setPointsVisible(true);
    return line;
}

QList<double> ysOf(const QList<QPointF> &points)
{
    QList<double> values;
    for (const QPointF &p : points)
        values << p.y();
    return values;
}

bool drawCardLedger(const ReportTableModel &model, const ReportRules::Rule &rule,
                    const std::function<QString()> &selectedCard, QChart *chart, ChartData &data, QString &ledgerCard)
{
    const QString card = selectedCard();
    if (card.isEmpty())
        return false;
    const Column stored = columnOf(model, rule.value);
    const Column points = columnOf(model, rule.value2);
    const CardRows rows = cardRows(model, card, columnOf(model, rule.card), columnOf(model, rule.day), stored, points);
    QLineSeries *storedLine = balanceSteps(stored.caption, rows.stored);
    QLineSeries *pointsLine = balanceSteps(points.caption, rows.points);
    chart->addSeries(storedLine);
    chart->addSeries(pointsLine);
    if (rows.first < 0)
        return false;
    // The whole month, whatever days the card moved on.
    const QDate month(model.Report().filter->Value(QStringLiteral("Year")).toInt(),
                      model.Report().filter->Value(QStringLiteral("Month")).toInt(), 1);
    QCategoryAxis *x = month.isValid() ? dayAxis(month, month.addMonths(1).addDays(-1))
                                       : dayAxis(QDateTime::fromMSecsSinceEpoch(rows.first).date(),
                                                 QDateTime::fromMSecsSinceEpoch(rows.last).date());
    chart->addAxis(x, Qt::AlignBottom);
    QCategoryAxis *left = valueAxis(rows.storedLow, rows.storedHigh, stored.kind, allWhole(ysOf(rows.stored)));
    QCategoryAxis *right = valueAxis(rows.pointsLow, rows.pointsHigh, points.kind, allWhole(ysOf(rows.points)));
    left->setTitleText(stored.caption);
    right->setTitleText(points.caption);
    chart->addAxis(left, Qt::AlignLeft);
    chart->addAxis(right, Qt::AlignRight);
    storedLine->attachAxis(x);
    storedLine->attachAxis(left);
    pointsLine->attachAxis(x);
    pointsLine->attachAxis(right);
    chart->setTitle(ReportRules::LedgerTitle(rule, card, month));
    data.names = {stored.caption, points.caption};
    data.series = {rows.stored, rows.points};
    ledgerCard = card;
    return true;
}

} // namespace

bool BuildReportChart(qint32 rptId, const ReportTableModel &model, bool barsByValue,
                      const std::function<QString()> &selectedCard, QChart *chart, ChartData &data,
                      QString &ledgerCard)
{
    const ReportRules::Rule &rule = ReportRules::Of(rptId);
    switch (rule.chart) {
    case ReportRules::Chart::Bars:
        return drawBars(model, rule, barsByValue, chart, data);
    case ReportRules::Chart::DailyLine:
        return drawDailyLine(model, rule, chart, data);
    case ReportRules::Chart::CardLedger:
        return drawCardLedger(model, rule, selectedCard, chart, data, ledgerCard);
    case ReportRules::Chart::None:
        break;
    }
    return false;
}
