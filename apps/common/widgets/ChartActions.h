#pragma once

#include <QObject>

#include <functional>

class QAction;
class QToolBar;
class ReportView;

// The host's chart buttons: "图表" shows or hides the chart of the current tab, "导出图表" saves
// it as PNG. Both are enabled only for a tab whose report has a chart to draw.
class ChartActions : public QObject
{
    Q_OBJECT

public:
    // Adds the actions to `bar`; `current` gives the tab shown.
    ChartActions(QToolBar *bar, std::function<ReportView *()> current);

    // Call when the current tab changes or its report is run again.
    void Follow();

    QAction *Toggle() const { return m_toggle; }
    QAction *ExportPng() const { return m_png; }

private:
    std::function<ReportView *()> m_current;
    QAction *m_toggle;
    QAction *m_png;
};
