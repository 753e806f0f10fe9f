#pragma once

#include "FilterForm.h"

class QCheckBox;
class QComboBox;
class QDateTimeEdit;

// Filter dialog of report 10902: a date period, card number range, member name, branch range,
// the grouping of the summary and the summary-rows-only switch.
class frmFilter10902 : public FilterForm
{
    Q_OBJECT

public:
    explicit frmFilter10902(QWidget *parent = nullptr);

    bool KeyPreview() const override { return true; }

    void ResetFilter() override;
    void LoadFilter(DictionaryPtr &Filter) override;
    void SaveFilter(DictionaryPtr &Filter) override;
    void GetLookupInfo(QObject *Ctrl, qint32 &LookupType, QString &Condition, QVariant &Extra) override;

    Q_INVOKABLE void IsShowBranch();

    QDateTimeEdit *DtpBDate = nullptr;
    QDateTimeEdit *DtpEDate = nullptr;
    QComboBox *cboGroup = nullptr;
    QCheckBox *chkShowSumOnly = nullptr;

protected:
    void Form_Load() override;

private:
    void fillGroupList();
    bool m_branchRowRemoved = false;
};
