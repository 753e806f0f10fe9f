#pragma once

#include "FilterForm.h"

class QSpinBox;

// The dialogs of one calendar month (10901, 10908) or quarter (10911): fraPeriod with a year
// box and a month (quarter) box, the code rows below it.
class MonthFilterForm : public FilterForm
{
    Q_OBJECT

public:
    QSpinBox *DtpBDate = nullptr;   // the year
    QSpinBox *DtpEDate = nullptr;   // the month or quarter

protected:
    using FilterForm::FilterForm;

    // fraPeriod: "查询期间", the year box (from `firstYear`), "年", the part box (`firstPart`
    // to `lastPart`) and its unit ("月", "季度").
    QFrame *BuildMonthFrame(int firstYear, int firstPart, int lastPart, const QString &unit);
    // Puts the year and the part of `day` (its month, or its quarter when the box ends at 4).
    void ShowPeriodOf(const QDate &day);
};
