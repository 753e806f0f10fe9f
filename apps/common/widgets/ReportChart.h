#pragma once

#include "ReportChartBuilders.h"

#include <QImage>
#include <QWidget>

class QChart;
class QChartView;
class QItemSelectionModel;
class QLabel;
class ReportTableModel;

// The chart of a report, drawn from the detail rows of its grid in the order shown; which
// report draws what is in ReportRules. It is redrawn whenever the grid's model is reset or re-sorted.
// Bars are drawn as one area series of outlines, so that every chart is a QXYSeries.
class ReportChart : public QWidget
{
    Q_OBJECT

public:
    explicit ReportChart(QWidget *parent = nullptr);

    static bool HasChart(qint32 rptId);

    // The rows to draw, and the selection that picks the card of a ledger.
    void SetModel(ReportTableModel *model, QItemSelectionModel *selection);
    // True when the report has a chart and at least one detail row to draw. The chart is
    // drawn when first shown after the rows changed.
    bool Available() const;

    // What the chart draws (ReportChartBuilders).
    using Data = ChartData;
    const Data &Drawn() const { return m_data; }

    // Bars from the largest value down instead of in the grid's order; remembered for the next
    // charts. Also on the chart's context menu.
    void SetBarsByValue(bool byValue);
    bool BarsByValue() const { return m_barsByValue; }

    QChart *Chart() const { return m_chart; }
    // The chart at twice its size on screen, for PNG and PDF.
    QImage Image() const;
    // Throws VelError when the file cannot be written.
    void SavePng(const QString &path) const;
    // Asks for a file name and saves the chart there; reports a failure in a message box.
    void ExportPng();

protected:
    void contextMenuEvent(QContextMenuEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    void rebuild();
    void clear();
    QString cardOfSelection() const;

    ReportTableModel *m_model = nullptr;
    QItemSelectionModel *m_selection = nullptr;
    QChart *m_chart;
    QChartView *m_view;
    QLabel *m_notice;
    Data m_data;
    QString m_card;   // the ledger's card drawn
    bool m_drawn = false;
    bool m_stale = true;
    bool m_barsByValue = false;
};
