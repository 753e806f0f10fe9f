#pragma once

#include "Types.h"

#include <QObject>

// The filter dialog host: shows the filter dialog of one report modally and hands back the
// outcome (Result) and, when confirmed, the dialog's filter dictionary (Filter).
class ReportFilter : public QObject
{
    Q_OBJECT

public:
    explicit ReportFilter(QObject *parent = nullptr);
    ~ReportFilter() override;

    void Init();

    DictionaryPtr Filter() const { return m_filter; }
    DictionaryPtr Result() const { return m_result; }
    qint16 RptID() const { return m_rptId; }
    void SetRptID(qint16 vNewValue) { m_rptId = vNewValue; }
    bool ShowFilter() const { return m_showFilter; }
    void SetShowFilter(bool value) { m_showFilter = value; }

private:
    DictionaryPtr m_result;
    DictionaryPtr m_filter;
    qint16 m_rptId = 0;
    bool m_showFilter = false;
};
