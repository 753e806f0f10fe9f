#pragma once

#include "FilterForm.h"

// Filter dialog of report 10906: an item code range and a bar code.
class frmFilter10906 : public FilterForm
{
    Q_OBJECT

public:
    explicit frmFilter10906(QWidget *parent = nullptr);

    void LoadFilter(DictionaryPtr &Filter) override;
    void SaveFilter(DictionaryPtr &Filter) override;
    void GetLookupInfo(QObject *Ctrl, qint32 &LookupType, QString &Condition, QVariant &Extra) override;

protected:
    void Form_Load() override;
};
