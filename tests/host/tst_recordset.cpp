#include "Recordset.h"
#include "VelError.h"

#include <QtTest>

using FT = Recordset::FieldType;

class tst_Recordset : public QObject
{
    Q_OBJECT

private slots:
    void newRecordsetIsClosedAndEmpty()
    {
        auto rs = Recordset::Create();
        QCOMPARE(rs->State(), 0);
        QCOMPARE(rs->RecordCount(), 0);
        QVERIFY(rs->Eof());
    }

    void valuesKeepTheirTypes_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<QVariant>("in");
        QTest::addColumn<QVariant>("out");
        QTest::newRow("integer") << int(FT::Integer) << QVariant(42) << QVariant(qlonglong(42));
        QTest::newRow("integer from text") << int(FT::Integer) << QVariant(QString("7")) << QVariant(qlonglong(7));
        QTest::newRow("double") << int(FT::Double) << QVariant(12.34) << QVariant(12.34);
        QTest::newRow("bool") << int(FT::Boolean) << QVariant(true) << QVariant(true);
        QTest::newRow("chinese text") << int(FT::Text) << QVariant(QString("合计")) << QVariant(QString("合计"));
        QTest::newRow("empty text is not null") << int(FT::Text) << QVariant(QString("")) << QVariant(QString(""));
        const QDateTime dt(QDate(2024, 3, 31), QTime(2, 30, 5));
        QTest::newRow("datetime wall clock") << int(FT::DateTime) << QVariant(dt) << QVariant(dt);
        QTest::newRow("null") << int(FT::Double) << QVariant() << QVariant();
    }
    void valuesKeepTheirTypes()
    {
        QFETCH(int, type);
        QFETCH(QVariant, in);
        QFETCH(QVariant, out);
        auto rs = Recordset::Create();
        rs->AddField("FValue", FT(type));
        rs->Open();
        rs->AddRow();
        rs->SetValue(0, 0, in);
        const QVariant got = rs->Value(0, 0);
        QCOMPARE(got, out);
        QCOMPARE(got.metaType(), out.metaType());
        QCOMPARE(rs->IsNull(0, 0), !out.isValid());
    }

    void cursorWalksAllRows()
    {
        auto rs = Recordset::Create();
        const int f = rs->AddField("FName", FT::Text);
        rs->AddField("FQty", FT::Double);
        rs->Open();
        for (int i = 0; i < 130; ++i) {  // crosses null-bitmap words
            const qint64 r = rs->AddRow();
            rs->SetText(r, f, QString("n%1").arg(i));
            if (i % 3)
                rs->SetDouble(r, 1, i);
        }
        QStringList seen;
        int nulls = 0;
        for (rs->MoveFirst(); !rs->Eof(); rs->MoveNext()) {
            seen << rs->Fields("fname").toString();  // field names are case-insensitive
            nulls += rs->Fields(1).isValid() ? 0 : 1;
        }
        QCOMPARE(seen.size(), 130);
        QCOMPARE(seen.last(), QString("n129"));
        QCOMPARE(nulls, 44);
    }

    void textCanBeOverwritten()
    {
        auto rs = Recordset::Create();
        rs->AddField("T", FT::Text);
        rs->Open();
        rs->AddRow();
        rs->AddRow();
        rs->SetText(0, 0, u"first");
        rs->SetText(1, 0, u"second");
        rs->SetText(0, 0, u"小计");
        QCOMPARE(rs->TextAt(0, 0), QString("小计"));
        QCOMPARE(rs->TextAt(1, 0), QString("second"));
    }

    void misuseFailsClearly_data()
    {
        QTest::addColumn<QString>("what");
        QTest::newRow("unknown field") << "field";
        QTest::newRow("row out of range") << "row";
        QTest::newRow("field after open with rows") << "addfield";
        QTest::newRow("bad number") << "number";
        QTest::newRow("no current record") << "eof";
    }
    void misuseFailsClearly()
    {
        QFETCH(QString, what);
        auto rs = Recordset::Create();
        rs->AddField("FQty", FT::Double);
        rs->Open();
        rs->AddRow();
        QVERIFY_THROWS_EXCEPTION(VelError, [&] {
            if (what == "field") rs->Value(0, "FMissing");
            else if (what == "row") rs->Value(5, 0);
            else if (what == "addfield") rs->AddField("FOther", FT::Text);
            else if (what == "number") rs->SetValue(0, 0, QString("abc"));
            else { rs->MoveNext(); rs->Fields(0); }
        }());
    }

    void closeReleasesRows()
    {
        auto rs = Recordset::Create();
        rs->AddField("T", FT::Text);
        rs->Open();
        rs->AddRow();
        rs->SetText(0, 0, QString(1000, 'x'));
        QVERIFY(rs->MemoryBytes() >= 2000);
        rs->Close();
        QCOMPARE(rs->State(), 0);
        QCOMPARE(rs->RecordCount(), 0);
        QCOMPARE(rs->MemoryBytes(), size_t(0));
    }
};

QTEST_GUILESS_MAIN(tst_Recordset)
#include "tst_recordset.moc"
