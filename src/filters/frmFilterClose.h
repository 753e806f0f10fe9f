#pragma once

#include "DatedFilterForm.h"
#include "MonthFilterForm.h"

class QCheckBox;
class QComboBox;
class QDateTimeEdit;
class QSpinBox;

// Filter dialogs of the close reports. Boxes 0/1 hold the issuing branch range.

// 10909: the cut-off, issuing branch and card type ranges, the card list switch and its limit.
class frmFilter10909 : public FilterForm
{
    Q_OBJECT
public:
    explicit frmFilter10909(QWidget *parent = nullptr);
    void LoadFilter(DictionaryPtr &Filter) override;
    void SaveFilter(DictionaryPtr &Filter) override;
    void GetLookupInfo(QObject *Ctrl, qint32 &LookupType, QString &Condition, QVariant &Extra) override;

    QDateTimeEdit *DtpEDate = nullptr;
    QCheckBox *chkShowCards = nullptr;
    QSpinBox *txtMinBalance = nullptr;

protected:
    void Form_Load() override;
};

// 10910: the period, issuing branch range (0/1) and spending branch range (2/3).
class frmFilter10910 : public DatedFilterForm
{
    Q_OBJECT
public:
    explicit frmFilter10910(QWidget *parent = nullptr);
    void LoadFilter(DictionaryPtr &Filter) override;
    void SaveFilter(DictionaryPtr &Filter) override;
    void GetLookupInfo(QObject *Ctrl, qint32 &LookupType, QString &Condition, QVariant &Extra) override;

protected:
    void Form_Load() override;
};

// 10911: year and quarter, issuing branch range, the custody ratio and the revenue cap.
class frmFilter10911 : public MonthFilterForm
{
    Q_OBJECT
public:
    explicit frmFilter10911(QWidget *parent = nullptr);
    void LoadFilter(DictionaryPtr &Filter) override;
    void SaveFilter(DictionaryPtr &Filter) override;
    void GetLookupInfo(QObject *Ctrl, qint32 &LookupType, QString &Condition, QVariant &Extra) override;

    QComboBox *cboRatio = nullptr;
    QSpinBox *txtCap = nullptr;

protected:
    void Form_Load() override;
};
