#include "ReportChart.h"

#include "Dictionary.h"
#include "ReportGrid.h"
#include "ReportTableModel.h"
#include "TabTitle.h"
#include "ValueFormat.h"
#include "VelError.h"

#include <QAreaSeries>
#include <QCategoryAxis>
#include <QChart>
#include <QChartView>
#include <QContextMenuEvent>
#include <QFileDialog>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineSeries>
#include <QMap>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QRegularExpression>
#include <QSettings>
#include <QShowEvent>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <numeric>

namespace {

struct Column
{
    int index = -1;
    ColumnKind kind = ColumnKind::Text;
    QString caption;
};

Column columnOf(const ReportTableModel &model, const QString &field)
{
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

QChart *newChart()
{
    auto *chart = new QChart;
    chart->setAnimationOptions(QChart::NoAnimation);
    chart->legend()->setAlignment(Qt::AlignBottom);
    // Room for upright bar labels under an axis title.
    chart->setMargins(QMargins(10, 4, 10, 4));
    QFont title = chart->titleFont();
    title.setBold(true);
    title.setPointSizeF(title.pointSizeF() * 1.2);
    chart->setTitleFont(title);
    return chart;
}

} // namespace

ReportChart::ReportChart(QWidget *parent)
    : QWidget(parent), m_chart(newChart()), m_view(new QChartView(m_chart, this)),
      m_notice(new QLabel(QStringLiteral("没有可绘制的明细行"), this)),
      m_barsByValue(QSettings().value(QStringLiteral("chart/barsByValue"), false).toBool())
{
    m_view->setRenderHint(QPainter::Antialiasing);
    m_view->setMinimumHeight(240);
    m_notice->setAlignment(Qt::AlignCenter);
    m_notice->hide();
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_view, 1);
    layout->addWidget(m_notice, 1);
}

bool ReportChart::HasChart(qint32 rptId)
{
    return rptId == 10901 || rptId == 10902 || rptId == 10904 || rptId == 10905;
}

void ReportChart::SetModel(ReportTableModel *model, QItemSelectionModel *selection)
{
    m_model = model;
    m_selection = selection;
    // Drawn when shown: a hidden chart must not cost a large report a pass over its rows.
    auto changed = [this] {
        m_stale = true;
        if (isVisible())
            rebuild();
    };
    connect(model, &QAbstractItemModel::modelReset, this, changed);
    connect(model, &QAbstractItemModel::layoutChanged, this, changed);
    // The ledger's chart follows the selected card.
    connect(selection, &QItemSelectionModel::currentRowChanged, this, [this] {
        if (m_card.isEmpty())
            return;
        if (!isVisible())
            m_stale = true;
        else if (cardOfSelection() != m_card)
            rebuild();
    });
}

void ReportChart::SetBarsByValue(bool byValue)
{
    if (byValue == m_barsByValue)
        return;
    m_barsByValue = byValue;
    QSettings().setValue(QStringLiteral("chart/barsByValue"), byValue);
    m_stale = true;
    if (isVisible())
        rebuild();
}

bool ReportChart::Available() const
{
    return m_model && m_model->Report().Ok() && m_model->Report().filter
        && HasChart(m_model->Report().filter->Value(QStringLiteral("RptID")).toInt()) && m_model->DetailRowCount() > 0;
}

void ReportChart::showEvent(QShowEvent *event)
{
    if (m_stale)
        rebuild();
    QWidget::showEvent(event);
}

void ReportChart::clear()
{
    // A new chart each time: simpler than taking the series and axes out of the old one.
    QChart *old = m_chart;
    m_chart = newChart();
    m_view->setChart(m_chart);
    delete old;
    m_data = {};
    m_card.clear();
    m_drawn = false;
    m_stale = false;
}

QString ReportChart::cardOfSelection() const
{
    const Column card = columnOf(*m_model, QStringLiteral("FCardId"));
    const int rows = m_model->rowCount();
    int row = m_selection && m_selection->currentIndex().isValid() ? m_selection->currentIndex().row() : 0;
    // A subtotal belongs to the card above it.
    while (row > 0 && !isDetail(*m_model, row))
        --row;
    while (row < rows && !isDetail(*m_model, row))
        ++row;
    return row < rows ? textAt(*m_model, row, card) : QString();
}

void ReportChart::rebuild()
{
    clear();
    if (!m_model || !m_model->Report().filter)
        return;
    const qint32 rptId = m_model->Report().filter->Value(QStringLiteral("RptID")).toInt();
    const int rows = m_model->rowCount();
    const ReportTableModel &model = *m_model;

    auto bars = [&](const QString &keyField, const QString &labelField, const QString &valueField, const QString &title) {
        const Column key = columnOf(model, keyField), label = columnOf(model, labelField), value = columnOf(model, valueField);
        QStringList keys, labels;
        QList<double> sums;
        for (int r = 0; r < rows; ++r) {
            if (!isDetail(model, r))
                continue;
            const QString k = textAt(model, r, key);
            qsizetype i = keys.indexOf(k);
            if (i < 0) {
                QString text = textAt(model, r, label);
                if (text.isEmpty())
                    text = QStringLiteral("（无）");
                if (labels.contains(text))
                    text += QStringLiteral("（%1）").arg(k);
                i = keys.size();
                keys << k;
                labels << text;
                sums << 0.0;
            }
            sums[i] += numberAt(model, r, value);
        }
        if (keys.isEmpty())
            return;
        if (m_barsByValue) {
            // Largest first; equal values keep the grid's order.
            QList<int> order(sums.size());
            std::iota(order.begin(), order.end(), 0);
            std::stable_sort(order.begin(), order.end(), [&](int a, int b) { return sums[a] > sums[b]; });
            QStringList sortedLabels;
            QList<double> sortedSums;
            for (int i : order) {
                sortedLabels << labels[i];
                sortedSums << sums[i];
            }
            labels = sortedLabels;
            sums = sortedSums;
        }
        // Drawn as one area whose outline steps up and down around each bar: Qt Charts' own
        // bar series cannot be used in this process (see ReportChart.h).
        constexpr double kHalfBar = 0.35;
        auto *outline = new QLineSeries;
        auto *base = new QLineSeries;
        for (int i = 0; i < sums.size(); ++i)
            outline->append({QPointF(i - kHalfBar, 0), QPointF(i - kHalfBar, sums[i]), QPointF(i + kHalfBar, sums[i]),
                             QPointF(i + kHalfBar, 0)});
        base->append({QPointF(-0.5, 0), QPointF(sums.size() - 0.5, 0)});
        auto *series = new QAreaSeries(outline, base);
        series->setName(value.caption);
        series->setBorderColor(series->color().darker(130));
        m_chart->addSeries(series);
        auto *x = new QCategoryAxis;
        x->setLabelsPosition(QCategoryAxis::AxisLabelsPositionCenter);
        x->setStartValue(-0.5);
        for (int i = 0; i < labels.size(); ++i)
            x->append(labels[i], i + 0.5);
        x->setRange(-0.5, labels.size() - 0.5);
        x->setGridLineVisible(false);
        x->setTitleText(label.caption);
        if (labels.size() > 8)
            x->setLabelsAngle(-90);
        // One series: the title and the value axis say what the bars are.
        m_chart->legend()->hide();
        m_chart->addAxis(x, Qt::AlignBottom);
        series->attachAxis(x);
        const auto [low, high] = std::minmax_element(sums.cbegin(), sums.cend());
        QCategoryAxis *y = valueAxis(qMin(0.0, *low), qMax(0.0, *high), value.kind, allWhole(sums));
        m_chart->addAxis(y, Qt::AlignLeft);
        series->attachAxis(y);
        m_data.categories = labels;
        m_data.names = {value.caption};
        QList<QPointF> bars;
        for (int i = 0; i < sums.size(); ++i)
            bars << QPointF(i, sums[i]);
        m_data.series = {bars};
        m_chart->setTitle(title);
        m_drawn = true;
    };

    switch (rptId) {
    case 10902: {
        const QString by = columnOf(model, QStringLiteral("FNo")).caption;
        bars(QStringLiteral("FNo"), QStringLiteral("FNo"), QStringLiteral("FpayAmount"),
             QStringLiteral("销售金额（按%1）").arg(by));
        break;
    }
    case 10904:
        bars(QStringLiteral("FNumber"), QStringLiteral("FName"), QStringLiteral("FVipNum"), QStringLiteral("各礼品使用积分"));
        break;
    case 10905: {
        const Column day = columnOf(model, QStringLiteral("FOperDate")), amount = columnOf(model, QStringLiteral("FPlusAmt"));
        QMap<qint64, double> perDay;
        for (int r = 0; r < rows; ++r)
            if (isDetail(model, r) && dayAt(model, r, day) >= 0)
                perDay[dayAt(model, r, day)] += numberAt(model, r, amount);
        if (perDay.isEmpty())
            break;
        auto *series = new QLineSeries;
        series->setName(QStringLiteral("%1（每日合计）").arg(amount.caption));
        series->setPointsVisible(true);
        for (auto it = perDay.cbegin(); it != perDay.cend(); ++it)
            series->append(double(it.key()), it.value());
        m_data.names = {series->name()};
        m_data.series = {series->points()};
        m_chart->addSeries(series);
        const auto [first, last] = periodOf(m_model->Report().filter, QStringLiteral("BDate"), QStringLiteral("EDate"),
                                            perDay.firstKey(), perDay.lastKey());
        QCategoryAxis *x = dayAxis(first, last);
        m_chart->addAxis(x, Qt::AlignBottom);
        series->attachAxis(x);
        const auto [low, high] = std::minmax_element(perDay.cbegin(), perDay.cend());
        QCategoryAxis *y = valueAxis(qMin(0.0, *low), *high, amount.kind, allWhole(perDay.values()));
        m_chart->addAxis(y, Qt::AlignLeft);
        series->attachAxis(y);
        m_chart->setTitle(QStringLiteral("每日充值金额"));
        m_drawn = true;
        break;
    }
    case 10901: {
        const QString card = cardOfSelection();
        if (card.isEmpty())
            break;
        const Column cardColumn = columnOf(model, QStringLiteral("FCardId")), day = columnOf(model, QStringLiteral("FDate"));
        const Column stored = columnOf(model, QStringLiteral("FResidualCardAmount"));
        const Column points = columnOf(model, QStringLiteral("FResidualVipNum"));
        auto *storedLine = new QLineSeries;
        auto *pointsLine = new QLineSeries;
        storedLine->setName(stored.caption);
        pointsLine->setName(points.caption);
        QList<QPointF> storedRows, pointsRows;
        qint64 first = -1, last = -1;
        double storedLow = 0, storedHigh = 0, pointsLow = 0, pointsHigh = 0;
        for (int r = 0; r < rows; ++r) {
            if (!isDetail(model, r) || textAt(model, r, cardColumn) != card)
                continue;
            const qint64 x = dayAt(model, r, day);
            if (x < 0)
                continue;
            first = first < 0 ? x : qMin(first, x);
            last = qMax(last, x);
            const double s = numberAt(model, r, stored), p = numberAt(model, r, points);
            storedRows << QPointF(double(x), s);
            pointsRows << QPointF(double(x), p);
            storedLow = qMin(storedLow, s), storedHigh = qMax(storedHigh, s);
            pointsLow = qMin(pointsLow, p), pointsHigh = qMax(pointsHigh, p);
        }
        // A balance holds until the next movement: drawn as steps through each row's value.
        auto steps = [](QLineSeries *line, const QList<QPointF> &rows) {
            for (int i = 0; i < rows.size(); ++i) {
                if (i > 0)
                    line->append(rows[i].x(), rows[i - 1].y());
                line->append(rows[i]);
            }
            line->setPointsVisible(true);
        };
        steps(storedLine, storedRows);
        steps(pointsLine, pointsRows);
        m_chart->addSeries(storedLine);
        m_chart->addSeries(pointsLine);
        if (first < 0)
            break;
        // The whole month, whatever days the card moved on.
        const QDate month(m_model->Report().filter->Value(QStringLiteral("Year")).toInt(),
                          m_model->Report().filter->Value(QStringLiteral("Month")).toInt(), 1);
        QCategoryAxis *x = month.isValid() ? dayAxis(month, month.addMonths(1).addDays(-1))
                                           : dayAxis(QDateTime::fromMSecsSinceEpoch(first).date(),
                                                     QDateTime::fromMSecsSinceEpoch(last).date());
        m_chart->addAxis(x, Qt::AlignBottom);
        auto ys = [](const QList<QPointF> &points) {
            QList<double> values;
            for (const QPointF &p : points)
                values << p.y();
            return values;
        };
        QCategoryAxis *left = valueAxis(storedLow, storedHigh, stored.kind, allWhole(ys(storedRows)));
        QCategoryAxis *right = valueAxis(pointsLow, pointsHigh, points.kind, allWhole(ys(pointsRows)));
        left->setTitleText(stored.caption);
        right->setTitleText(points.caption);
        m_chart->addAxis(left, Qt::AlignLeft);
        m_chart->addAxis(right, Qt::AlignRight);
        storedLine->attachAxis(x);
        storedLine->attachAxis(left);
        pointsLine->attachAxis(x);
        pointsLine->attachAxis(right);
        m_chart->setTitle(QStringLiteral("会员卡 %1 本月储值余额与积分余额").arg(card));
        m_data.names = {stored.caption, points.caption};
        m_data.series = {storedRows, pointsRows};
        m_card = card;
        m_drawn = true;
        break;
    }
    default:
        break;
    }
    m_view->setVisible(m_drawn);
    m_notice->setVisible(!m_drawn);
}

QImage ReportChart::Image() const
{
    // The scene drawn again at twice the size, rather than the screen's pixels scaled.
    constexpr qreal kScale = 2;
    QImage image(m_view->viewport()->size() * kScale, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    m_view->scene()->render(&painter, QRectF(image.rect()),
                            m_view->mapToScene(m_view->viewport()->rect()).boundingRect());
    painter.end();
    image.setDevicePixelRatio(kScale);
    return image;
}

void ReportChart::SavePng(const QString &path) const
{
    if (!Image().save(path, "PNG"))
        throw VelError(QStringLiteral("无法写入文件 %1").arg(path));
}

void ReportChart::ExportPng()
{
    QString path = QFileDialog::getSaveFileName(this, QStringLiteral("导出图表"), m_chart->title() + QStringLiteral(".png"),
                                                QStringLiteral("PNG 图片 (*.png)"));
    if (path.isEmpty())
        return;
    if (!path.endsWith(QLatin1String(".png"), Qt::CaseInsensitive))
        path += QLatin1String(".png");
    try {
        SavePng(path);
    } catch (const VelError &e) {
        QMessageBox::warning(this, QStringLiteral("导出图表"), e.Description());
    }
}

void ReportChart::contextMenuEvent(QContextMenuEvent *event)
{
    if (!m_drawn)
        return;
    QMenu menu(this);
    menu.addAction(QStringLiteral("导出图表为 PNG..."), this, &ReportChart::ExportPng);
    if (!m_data.categories.isEmpty()) {
        QAction *sorted = menu.addAction(QStringLiteral("按数值从大到小排列"), this, &ReportChart::SetBarsByValue);
        sorted->setObjectName(QStringLiteral("barsByValue"));
        sorted->setCheckable(true);
        sorted->setChecked(m_barsByValue);
    }
    menu.exec(event->globalPos());
}
