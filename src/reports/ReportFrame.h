#pragma once

#include "facade/IQueryReport.h"

#include <QString>
#include <QVariant>

#include <initializer_list>
#include <utility>

class Dictionary;

// One column of a report's header table (UTF-8 texts).
struct ColumnDef
{
    const char *caption;
    const char *secondCaption;
    const char *colType;
    const char *fieldName;
    bool visible = true;
};

// The frame shared by the six reports: holds the filter, writes the properties, appends the
// columns, sends one request to the server data component "VelMVipRpt.GLData", hands back its
// record set, records "OK"/"Error", closes the progress window and builds the title block.
class ReportFrame : public IQueryReport
{
    Q_OBJECT

public:
    ~ReportFrame() override;

    qint32 ReportNumber() const { return m_number; }
    // The report's name as the public catalogue gives it.
    QString CatalogName() const;

    void BuiltRptTitleObject(DictionaryPtr &dctResult, VectorPtr &dctTitle, DictionaryPtr &dctProperty) override;
    QVariant GetRptList(VectorPtr &m_header, Bar *m_ProgBar, RecordsetPtr &m_Rs, DictionaryPtr &m_Result) override;
    QVariant SetRptProperty(DictionaryPtr &m_Property) override;

    DictionaryPtr Filter() const override { return m_filter; }
    void SetFilter(const DictionaryPtr &filter) override { m_filter = filter; }
    // No member sets the report's own record set: the rows travel in GetRptList's m_Rs.
    RecordsetPtr rs() const override { return m_rs; }

protected:
    ReportFrame(qint32 number, QObject *parent);

    // Appends the report's columns through AddColumn. False when the filter asks for a layout
    // the report does not know; the run then fails without a message and without a request.
    virtual bool AppendColumns() = 0;
    // The report's property entries, in the order they are written.
    virtual void WriteProperties(Dictionary &property) const = 0;
    // Reports 10902 to 10905 add "RptTitleObject" with the period to the result.
    virtual bool HasPeriodTitleOption() const { return false; }
    // Report 10906 shows the reading message before it creates the server component.
    virtual bool MessageBeforeServer() const { return false; }
    // Around the request (AfterRequest runs whether the request succeeded or not).
    virtual void BeforeRequest() {}
    virtual void AfterRequest() {}
    // Lines the report appends to the builder's title.
    virtual void AppendTitleLines(VectorPtr &) {}

    // A filter value; throws VelError when there is no filter.
    QVariant FilterValue(const QString &key) const;
    // "GroupBy" turned into text.
    QString GroupByText() const;

    static void AddColumns(std::initializer_list<ColumnDef> columns);
    static void WriteEntries(Dictionary &property, std::initializer_list<std::pair<const char *, QVariant>> entries);
    // The layout most reports share: "Name", "FrozenColumn" 2, "DetailRptID" 0,
    // "HasDefaultFilterOption" True, "RptProperty", then "LongTime" True when asked for.
    static void WriteCommonProperties(Dictionary &property, const QString &name, qint16 rptProperty, bool longTime);

    DictionaryPtr m_filter;

private:
    void showReadingMessage(Bar *bar);
    void addPeriodTitleOption(DictionaryPtr &dctResult) const;

    const qint32 m_number;
    RecordsetPtr m_rs;
};
