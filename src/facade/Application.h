#pragma once

#include "Types.h"

#include <QObject>
#include <QVariant>

#include <memory>

class Bar;
class IQueryReport;

// The public, creatable object through which a host runs the six reports: choose RptID,
// set or pick a filter, GetReportData, then read Result, Header, Title, Property and rs.
class Application : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString ExtFirter READ ExtFirter WRITE SetExtFirter)
    Q_PROPERTY(DictionaryPtr Filter READ Filter WRITE SetFilter)
    Q_PROPERTY(VectorPtr Header READ Header)
    Q_PROPERTY(DictionaryPtr Property READ Property)
    Q_PROPERTY(DictionaryPtr Result READ Result)
    Q_PROPERTY(qint32 RptID READ RptID WRITE SetRptID)
    Q_PROPERTY(RecordsetPtr rs READ rs)
    Q_PROPERTY(VectorPtr Title READ Title)

public:
    explicit Application(QObject *parent = nullptr);
    ~Application() override;

    // Write-only for the host: accepted and ignored; reads give the empty text.
    QString ExtFirter() const { return QString(); }
    void SetExtFirter(const QString &value);
    Q_INVOKABLE QObject *GetDetailReport(qint32 lRow);
    Q_INVOKABLE QVariant GetReportData();
    Q_INVOKABLE void Refresh();
    QVariant ShowFilter(bool &bShowFilter);
    Q_INVOKABLE QVariant ShowFilter();

    DictionaryPtr Filter() const;
    // Writing a filter: a dictionary sets "OK" = True; none sets "OK" = False and
    // "Error" = "请选择过滤条件！".
    void SetFilter(const DictionaryPtr &filter);
    // The automation form of the write: anything that is not a dictionary (or none) fails.
    Q_INVOKABLE void SetFilterVariant(const QVariant &filter);

    VectorPtr Header() const;
    DictionaryPtr Property() const;
    DictionaryPtr Result() const;
    qint32 RptID() const;
    void SetRptID(qint32 id);
    RecordsetPtr rs() const;
    VectorPtr Title() const;

private:
    void CreateReport();
    void m_ProgBar_Active();

    struct Private;
    std::unique_ptr<Private> d;
};
