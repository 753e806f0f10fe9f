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
    // By name the filter travels as a Variant, so that a write with anything other than a
    // dictionary reaches SetFilterVariant and fails there instead of being dropped by Qt.
    Q_PROPERTY(QVariant Filter READ FilterVariant WRITE SetFilterVariant)
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
    // bShowFilter is by reference, as the host passes it (Q_ARG(bool &, ...) by name).
    Q_INVOKABLE QVariant ShowFilter(bool &bShowFilter);
    Q_INVOKABLE QVariant ShowFilter();

    DictionaryPtr Filter() const;
    // Writing a filter: a dictionary sets "OK" = True; none sets "OK" = False and
    // "Error" = "请选择过滤条件！".
    void SetFilter(const DictionaryPtr &filter);
    // The automation forms. Writing anything that is not a dictionary (or none) is not trapped:
    // it throws VelError (type mismatch, 13) to the caller, also through setProperty("Filter").
    QVariant FilterVariant() const;
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
