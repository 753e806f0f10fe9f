#include "ChartActions.h"

#include "ReportChart.h"
#include "ReportView.h"

#include <QAction>
#include <QSignalBlocker>
#include <QToolBar>

ChartActions::ChartActions(QToolBar *bar, std::function<ReportView *()> current)
    : QObject(bar), m_current(std::move(current))
{
    m_toggle = bar->addAction(QStringLiteral("图表"));
    m_toggle->setObjectName(QStringLiteral("chartToggle"));
    m_toggle->setCheckable(true);
    m_toggle->setToolTip(QStringLiteral("在表格下方显示图表；显示时也写入 PDF 和打印"));
    m_png = bar->addAction(QStringLiteral("导出图表"));
    m_png->setObjectName(QStringLiteral("chartPng"));
    m_png->setToolTip(QStringLiteral("把图表保存为 PNG 图片"));
    connect(m_toggle, &QAction::toggled, this, [this](bool on) {
        if (ReportView *view = m_current())
            view->SetChartShown(on);
        Follow();
    });
    connect(m_png, &QAction::triggered, this, [this] {
        if (ReportView *view = m_current(); view && view->ChartShown())
            view->Chart()->ExportPng();
    });
    Follow();
}

void ChartActions::Follow()
{
    ReportView *view = m_current();
    const bool available = view && view->ErrorText().isEmpty() && view->Chart()->Available();
    const QSignalBlocker blocker(m_toggle);
    m_toggle->setEnabled(available);
    m_toggle->setChecked(available && view->ChartShown());
    m_png->setEnabled(m_toggle->isChecked());
}
