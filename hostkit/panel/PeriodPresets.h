#pragma once

#include <QDate>
#include <QWidget>

#include <utility>

class QAbstractSpinBox;

// Quick period choices (今天, 昨天, 本周, 本月, 上月, 本年, 上年) for the dialog frame that the
// panel shows on its date page. A choice sets the frame's pickers: a begin and an end
// date-time edit (from 00:00:00 of the first day to 23:59:59 of the last), or a year and a
// month box (the month the period lies in; only the choices that lie in one month are offered
// there). The dialog then saves its keys from its pickers as usual.
class PeriodPresets : public QWidget
{
    Q_OBJECT

public:
    enum Preset { Today, Yesterday, ThisWeek, ThisMonth, LastMonth, ThisYear, LastYear };

    // The first and the last day of a preset, weeks starting on Monday.
    static std::pair<QDate, QDate> Range(Preset preset, const QDate &today);
    static QString Caption(Preset preset);

    // A row of buttons for the frame's pickers, or nullptr when the frame has none.
    static PeriodPresets *For(QWidget *frame, QWidget *parent);

    void Apply(Preset preset, const QDate &today = QDate::currentDate());

private:
    PeriodPresets(QAbstractSpinBox *begin, QAbstractSpinBox *end, bool monthBoxes, QWidget *parent);

    QAbstractSpinBox *m_begin;
    QAbstractSpinBox *m_end;
    bool m_monthBoxes;
};
