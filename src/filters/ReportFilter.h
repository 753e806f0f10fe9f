#pragma once

#include "Types.h"

#include <QObject>
#include <QPointer>

#include "FilterForm.h"

// The filter dialog host: shows the filter dialog of one report modally and hands back the
// outcome (Result) and, when confirmed, the dialog's filter dictionary (Filter).
class ReportFilter : public QObject
{
    Q_OBJECT
    Q_PROPERTY(DictionaryPtr Filter READ Filter)
    Q_PROPERTY(DictionaryPtr Result READ Result)
    Q_PROPERTY(qint16 RptID READ RptID WRITE SetRptID)
    Q_PROPERTY(bool ShowFilter READ ShowFilter WRITE SetShowFilter)

public:
    explicit ReportFilter(QObject *parent = nullptr);
    ~ReportFilter() override;

    Q_INVOKABLE void Init();

    DictionaryPtr Filter() const { return m_filter; }
    DictionaryPtr Result() const { return m_result; }
    qint16 RptID() const { return m_rptId; }
    void SetRptID(qint16 vNewValue) { m_rptId = vNewValue; }
    bool ShowFilter() const { return m_showFilter; }
    void SetShowFilter(bool value) { m_showFilter = value; }

    // The hosted dialog while it is attached (hidden after it closed), else nullptr.
    FilterForm *frmItem() const { return m_frmItem; }

    // A new dialog for a report number, or nullptr for a number without a report.
    static FilterForm *CreateForm(qint32 rptId);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void attach(FilterForm *form);
    void detach();

    DictionaryPtr m_result;
    DictionaryPtr m_filter;
    QPointer<FilterForm> m_frmItem;
    qint16 m_rptId = 0;
    bool m_showFilter = false;
};
