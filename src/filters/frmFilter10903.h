#pragma once

#include "DatedFilterForm.h"

class QLabel;

// Filter dialog of report 10903: a period to the minute, card / item / customer ranges,
// cashier, POS terminal, brand, bill number (contains) and branch range.
class frmFilter10903 : public DatedFilterForm
{
    Q_OBJECT

public:
    explicit frmFilter10903(QWidget *parent = nullptr);

    void LoadFilter(DictionaryPtr &Filter) override;
    void SaveFilter(DictionaryPtr &Filter) override;
    void GetLookupInfo(QObject *Ctrl, qint32 &LookupType, QString &Condition, QVariant &Extra) override;

    std::map<int, QLabel *> lbl2;

protected:
    void Form_Load() override;
};
