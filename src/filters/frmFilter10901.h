#pragma once

#include "MonthFilterForm.h"

class QCheckBox;

// Filter dialog of report 10901: one calendar month, card type / card number / branch ranges,
// member name and two display switches.
class frmFilter10901 : public MonthFilterForm
{
    Q_OBJECT

public:
    explicit frmFilter10901(QWidget *parent = nullptr);

    bool KeyPreview() const override { return true; }

    void LoadFilter(DictionaryPtr &Filter) override;
    void SaveFilter(DictionaryPtr &Filter) override;
    void GetLookupInfo(QObject *Ctrl, qint32 &LookupType, QString &Condition, QVariant &Extra) override;

    Q_INVOKABLE void IsShowBranch();
    // Copies a begin code into its empty end box when the begin box loses the focus.
    void txtItem_LostFocus(int Index);

    QCheckBox *chkShowSumOnly = nullptr;
    QCheckBox *chkShowVipDo = nullptr;

protected:
    void Form_Load() override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    bool m_branchRowRemoved = false;
};
