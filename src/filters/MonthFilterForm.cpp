#include "MonthFilterForm.h"

#include <QDate>
#include <QFrame>
#include <QLabel>
#include <QSpinBox>

#include "dialog/Twips.h"

QFrame *MonthFilterForm::BuildMonthFrame(int firstYear, int firstPart, int lastPart, const QString &unit)
{
    QFrame *fraPeriod = AddFrame(QStringLiteral("fraPeriod"), 6480, 855);
    lbl[4] = AddLabel(fraPeriod, QStringLiteral("查询期间"), 165, 345);
    DtpBDate = new QSpinBox(fraPeriod);
    DtpBDate->setObjectName(QStringLiteral("DtpBDate"));
    DtpBDate->setRange(firstYear, 9999);
    DtpBDate->setGeometry(Twips::Rect(1200, 270, 1200, 300));
    lbl[5] = AddLabel(fraPeriod, QStringLiteral("年"), 2490, 345, 300);
    DtpEDate = new QSpinBox(fraPeriod);
    DtpEDate->setObjectName(QStringLiteral("DtpEDate"));
    DtpEDate->setRange(firstPart, lastPart);
    DtpEDate->setGeometry(Twips::Rect(2880, 270, 900, 300));
    lbl[6] = AddLabel(fraPeriod, unit, 3870, 345, 600);
    return fraPeriod;
}

void MonthFilterForm::ShowPeriodOf(const QDate &day)
{
    DtpBDate->setValue(day.year());
    DtpEDate->setValue(DtpEDate->maximum() == 4 ? (day.month() + 2) / 3 : day.month());
}
