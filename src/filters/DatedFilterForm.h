#pragma once

#include "FilterForm.h"

class QDateTimeEdit;
class QFrame;

// The dialogs of reports 10903 to 10905: a date-and-time period in fraPeriod, code ranges in
// fraItem, and a branch row that a branch site may not change.
class DatedFilterForm : public FilterForm
{
    Q_OBJECT

public:
    // Today from 00:00 to 23:59; the code boxes keep their contents.
    void ResetFilter() override;

    QDateTimeEdit *DtpBDate = nullptr;
    QDateTimeEdit *DtpEDate = nullptr;

protected:
    using FilterForm::FilterForm;

    // fraPeriod with its caption, the two pickers showing `format` and the dash between them.
    QFrame *BuildPeriodFrame();
    // At a branch site: hides the branch row and fills its boxes (0 and 1) with the site's number.
    void LockBranchRow(std::initializer_list<QWidget *> row);
    // The site's own branch number at a branch site, else the trimmed text of the box.
    QString BranchNumOr(int index) const;
    void LoadPickers(const DictionaryPtr &filter);
};
