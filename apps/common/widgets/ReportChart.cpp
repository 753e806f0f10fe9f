#include "ReportChart.h"

#include "Dictionary.h"
#include "ReportChartBuilders.h"
#include "ReportRules.h"
#include "ReportTableModel.h"
#include "VelError.h"

#include <QChart>
#include <QChartView>
#include <QContextMenuEvent>
#include <QFileDialog>
#include <QItemSelectionModel>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QSettings>
#include <QShowEvent>
#include <QVBoxLayout>

namespace {

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
    return ReportRules::Of(rptId).chart != ReportRules::Chart::None;
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
    return SelectedCard(*m_model, m_selection);
}

void ReportChart::rebuild()
{
    clear();
    if (!m_model || !m_model->Report().filter)
        return;
    const qint32 rptId = m_model->Report().filter->Value(QStringLiteral("RptID")).toInt();
    m_drawn = BuildReportChart(rptId, *m_model, m_barsByValue, [this] { return cardOfSelection(); }, m_chart, m_data,
                               m_card);
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
