#pragma once

#include "Types.h"

#include <QObject>
#include <QVariant>

class Bar;
Q_MOC_INCLUDE("progress/Bar.h")

// The contract of every report. The bare class is creatable; its members do nothing: functions
// return an empty value, property reads return no object, writes are dropped. Container
// arguments are by reference: the callee may replace the caller's object. A host calling by name
// passes them as Q_ARG(DictionaryPtr &, ...) and sees the replacement.
class IQueryReport : public QObject
{
    Q_OBJECT
    Q_PROPERTY(DictionaryPtr Filter READ Filter WRITE SetFilter)
    Q_PROPERTY(RecordsetPtr rs READ rs)

public:
    Q_INVOKABLE explicit IQueryReport(QObject *parent = nullptr);
    ~IQueryReport() override;

    // Replaces dctTitle by the report's title block; may add to dctProperty and dctResult.
    Q_INVOKABLE virtual void BuiltRptTitleObject(DictionaryPtr &dctResult, VectorPtr &dctTitle, DictionaryPtr &dctProperty);
    // Appends the columns to m_header, replaces m_Rs by the server's rows, writes "OK" and
    // "Error" into m_Result and closes the progress window behind m_ProgBar.
    Q_INVOKABLE virtual QVariant GetRptList(VectorPtr &m_header, Bar *m_ProgBar, RecordsetPtr &m_Rs, DictionaryPtr &m_Result);
    // Stores the report's property keys in m_Property.
    Q_INVOKABLE virtual QVariant SetRptProperty(DictionaryPtr &m_Property);

    virtual DictionaryPtr Filter() const;
    virtual void SetFilter(const DictionaryPtr &filter);
    virtual RecordsetPtr rs() const;
};
