#pragma once

#include "Types.h"

#include <QObject>

#include <memory>

// The plug-in's public facade "VelVipRpt.Application", created through the component registry
// and driven by name: the hosts need none of the plug-in's classes. Creating one loads the
// plug-in on first use (PluginLoader::Load) and throws VelError when it cannot.
class ReportApplication
{
public:
    ReportApplication();
    ~ReportApplication();

    void SetRptID(qint32 rptId);
    qint32 RptID() const;
    // A dictionary sets "OK" True; none sets it False with an "Error".
    void SetFilter(const DictionaryPtr &filter);
    DictionaryPtr Filter() const;
    // The report's filter dialog; "OK" in Result says whether it was confirmed.
    void ShowFilter();
    // Runs the report when "OK" is True; the outcome is in Result.
    void GetReportData();

    DictionaryPtr Result() const;
    DictionaryPtr Property() const;
    VectorPtr Header() const;
    VectorPtr Title() const;
    RecordsetPtr rs() const;

    QObject &Object() const { return *m_app; }

private:
    std::unique_ptr<QObject> m_app;
};
