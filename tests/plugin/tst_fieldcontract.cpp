#include "ReportRun.h"

#include "reports/Reports.h"

#include "DemoChain.h"
#include "HostKit.h"
#include "ServerComponents.h"

#include <QTemporaryDir>
#include <QtTest>

// Every column a report's header names ("FColName") is a field of the record set the server
// data component returns for it, for every grouping and site: a missing field would show as
// an empty column. No field is named by two columns.
class tst_FieldContract : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

private slots:
    void initTestCase()
    {
        DemoOptions o;
        o.outPath = m_dir.filePath("chain.sqlite"), o.members = 40, o.items = 30, o.days = 40, o.linesPerDay = 10;
        DemoChain::Generate(o);
        RegisterHostKitComponents();
        RegisterServerComponents();
        ShareProps::SetHostProperty(QStringLiteral("PropsString"), DemoChain::SqliteConnectionText(o.outPath));
    }

    void headerFieldsAreFields_data()
    {
        QTest::addColumn<int>("rptId");
        QTest::addColumn<int>("groupBy");   // -1: the report has no grouping
        QTest::addColumn<bool>("headOffice");
        const std::pair<int, int> groupings[] = {{10901, -1}, {10902, 3}, {10903, -1}, {10904, 2}, {10905, 1}, {10906, -1}};
        for (const auto &[rptId, last] : groupings) {
            for (int g = std::min(last, 0); g <= last; ++g) {
                for (bool headOffice : {true, false})
                    QTest::addRow("%d group %d %s", rptId, g, headOffice ? "head office" : "branch")
                        << rptId << g << headOffice;
            }
        }
    }

    void headerFieldsAreFields()
    {
        QFETCH(int, rptId);
        QFETCH(int, groupBy);
        QFETCH(bool, headOffice);
        HostContext::SetIsBranch(!headOffice);
        HostContext::SetSVCardShareType(headOffice);
        HostContext::Publish();
        DictionaryPtr filter = Dictionary::Create();
        filter->SetValue(QStringLiteral("Year"), 2024);
        filter->SetValue(QStringLiteral("Month"), 1.0);
        filter->SetValue(QStringLiteral("BDate"), QStringLiteral("2024-01-01 00:00:00"));
        filter->SetValue(QStringLiteral("EDate"), QStringLiteral("2024-01-31 23:59:59"));
        if (groupBy >= 0)
            filter->SetValue(QStringLiteral("GroupBy"), groupBy);
        auto report = NewReport(rptId);
        report->SetFilter(filter);
        ReportRun run;
        run.run(*report);
        QVERIFY2(run.result->Value("OK").toBool(), qPrintable(run.result->Value("Error").toString()));
        QVERIFY(run.rs->RecordCount() > 1);
        const QStringList fields = run.rs->FieldNames();
        QStringList shown;
        for (int i = 0; i < run.header->Count(); ++i) {
            const QString name = run.header->DictionaryAt(i)->Value(QStringLiteral("FColName")).toString();
            QVERIFY2(fields.contains(name), qPrintable(name + QStringLiteral(" is not among ") + fields.join(u',')));
            // Two columns on one field would show the same numbers under two captions.
            QVERIFY2(!shown.contains(name), qPrintable(name + QStringLiteral(" is shown twice")));
            shown << name;
        }
    }
};

QTEST_MAIN(tst_FieldContract)
#include "tst_fieldcontract.moc"
