#pragma once

#include "FilterForm.h"

class QSpinBox;

// Filter dialog of report 10908: one calendar month, branch and card type ranges.
class frmFilter10908 : public FilterForm
{
    Q_OBJECT

public:
    explicit frmFilter10908(QWidget *parent = nullptr);

    void LoadFilter(DictionaryPtr &Filter) override;
    void SaveFilter(DictionaryPtr &Filter) override;
    void GetLookupInfo(QObject *Ctrl, qint32 &LookupType, QString &Condition, QVariant &Extra) override;

    QSpinBox *DtpBDate = nullptr;   // the year
    QSpinBox *DtpEDate = nullptr;   // the month

protected:
    void Form_Load() override;
};
