#pragma once

#include "ReportOutput.h"

#include <QObject>

class ReportView;

// Remembers, per report number, which columns the user shows, the widths of the columns
// resized and the columns frozen, and puts them back whenever the report is shown again (a new tab or a refresh).
// Columns are matched by field and caption, so a report whose columns change with its filter
// keeps what fits.
class ColumnMemory : public QObject
{
public:
    ColumnMemory(ReportView *view, qint32 rptId);

    // Shows a run's result in the view, then applies what was remembered.
    void Show(const ReportOutput &report);

private:
    // Keeps the shown state of every column and the width of `resized` (-1: none).
    void save(int resized);

    ReportView *m_view;
    qint32 m_rptId;
    bool m_applying = false;
};
