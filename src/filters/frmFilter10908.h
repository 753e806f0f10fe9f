#pragma once

#include "MonthFilterForm.h"

// Filter dialog of report 10908: one calendar month, branch and card type ranges.
class frmFilter10908 : public MonthFilterForm
{
    Q_OBJECT

public:
    explicit frmFilter10908(QWidget *parent = nullptr);

    void LoadFilter(DictionaryPtr &Filter) override;
    void SaveFilter(DictionaryPtr &Filter) override;
    void GetLookupInfo(QObject *Ctrl, qint32 &LookupType, QString &Condition, QVariant &Extra) override;

protected:
    void Form_Load() override;
};
