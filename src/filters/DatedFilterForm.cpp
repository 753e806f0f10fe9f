#include "DatedFilterForm.h"

#include "Dictionary.h"
#include "HostContextReader.h"
#include "VariantConvert.h"
#include "WallClock.h"

#include <QDateTimeEdit>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>

QFrame *DatedFilterForm::BuildPeriodFrame()
{
    const QString format = QLatin1String(VariantConvert::DateTimeFormat);
    QFrame *fraPeriod = AddFrame(QStringLiteral("fraPeriod"), 6480, 855);
    AddLabel(fraPeriod, QStringLiteral("日期范围"), 165, 345, 900);
    // Wide enough for the seconds and the drop-down arrow in the fonts people use.
    DtpBDate = AddDatePicker(fraPeriod, QStringLiteral("DtpBDate"), format, 1200, 270, 2400);
    Line2[0] = AddLine(fraPeriod, 3690, 3870, 420);
    DtpEDate = AddDatePicker(fraPeriod, QStringLiteral("DtpEDate"), format, 3960, 270, 2400);
    return fraPeriod;
}

void DatedFilterForm::ResetFilter()
{
    const QDate today = QDate::currentDate();
    DtpEDate->setDateTime(WallClock::At(today, QTime(23, 59)));
    DtpBDate->setDateTime(WallClock::At(today));
}

void DatedFilterForm::LockBranchRow(std::initializer_list<QWidget *> row)
{
    if (GetIsBranch())
        HideBranchRow(row);
}

QString DatedFilterForm::BranchNumOr(int index) const
{
    return GetIsBranch() ? GetBranchNum() : Trimmed(txtItem.at(index));
}

void DatedFilterForm::LoadPickers(const DictionaryPtr &filter)
{
    SetPickerFrom(DtpBDate, filter->GetValue(QStringLiteral("BDate"), QString()));
    SetPickerFrom(DtpEDate, filter->GetValue(QStringLiteral("EDate"), QString()));
}
