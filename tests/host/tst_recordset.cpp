#include "Recordset.h"
#include "VelError.h"

#include <QtTest>

#include <functional>

using FT = Recordset::FieldType;

struct TypedValue { int type; QVariant in; QVariant out; };

class tst_Recordset : public QObject
{
    Q_OBJECT

private slots:
    void valuesKeepTheirTypes()
    {
        const QDateTime dt(QDate(2024, 3, 31), QTime(2, 30, 5));   // wall clock, in a skipped hour
        const TypedValue cases[] = {
            {int(FT::Integer), QVariant(42), QVariant(qlonglong(42))},
            {int(FT::Integer), QVariant(QString("7")), QVariant(qlonglong(7))},
            {int(FT::Double), QVariant(12.34), QVariant(12.34)},
            {int(FT::Boolean), QVariant(true), QVariant(true)},
            {int(FT::Text), QVariant(QString("合计")), QVariant(QString("合计"))},
            {int(FT::Text), QVariant(QString("")), QVariant(QString(""))},   // empty text is not null
            {int(FT::DateTime), QVariant(dt), QVariant(dt)},
            {int(FT::Double), QVariant(), QVariant()},
        };
        for (const auto &[type, in, out] : cases) {
            auto rs = Recordset::Create();
            rs->AddField("FValue", FT(type));
            rs->Open();
            rs->AddRow();
            rs->SetValue(0, 0, in);
            const QVariant got = rs->Value(0, 0);
            QCOMPARE(got, out);
            QCOMPARE(got.metaType(), out.metaType());
            QCOMPARE(rs->IsNull(0, 0), !out.isValid());
            // The one-call read that writers use agrees with the typed reads.
            const Recordset::Cell cell = rs->CellAt(0, 0);
            QCOMPARE(cell.null, !out.isValid());
            if (cell.null)
                continue;
            switch (FT(type)) {
            case FT::Double: QCOMPARE(cell.real, out.toDouble()); break;
            case FT::Text: QCOMPARE(cell.text.toString(), out.toString()); break;
            case FT::DateTime: QCOMPARE(cell.number, rs->WallClockMsecsAt(0, 0)); break;
            default: QCOMPARE(cell.number, out.toLongLong());
            }
        }
    }

    void misuseFailsClearly()
    {
        auto rs = Recordset::Create();
        rs->AddField("FQty", FT::Double);
        rs->Open();
        rs->AddRow();
        const std::function<void()> misuses[] = {
            [&] { rs->Value(0, "FMissing"); },             // unknown field
            [&] { rs->Value(5, 0); },                      // row out of range
            [&] { rs->CellAt(0, 3); },                     // field out of range
            [&] { rs->AddField("FOther", FT::Text); },     // field after open with rows
            [&] { rs->SetValue(0, 0, QString("abc")); },   // bad number
            [&] { rs->MoveNext(); rs->Fields(0); },        // no current record
        };
        for (const auto &misuse : misuses)
            QVERIFY_THROWS_EXCEPTION(VelError, misuse());
    }

    // Storage grows in steps; values on either side of every step must read back unchanged:
    // one row, past the first bitmap word, past a storage block, reserved less and more than filled.
    void manyRowsReadBack()
    {
        const std::pair<int, qint64> runs[] = {{1, 0}, {65, 0}, {70000, 0}, {140000, 1000}, {70000, 200000}};
        for (const auto &[rows, reserve] : runs) {
            auto rs = Recordset::Create();
            rs->AddField("FNo", FT::Integer);
            rs->AddField("FCode", FT::Text);
            rs->AddField("FAmount", FT::Double);
            rs->AddField("FFlag", FT::Boolean);
            rs->Open();
            rs->Reserve(reserve);
            for (int i = 0; i < rows; ++i) {
                const qint64 r = rs->AddRow();
                rs->SetInt(r, 0, i);
                if (i % 5 != 4)
                    rs->SetText(r, 1, QString("C%1").arg(i % 7 == 0 ? i : i / 3));
                if (i % 2)
                    rs->SetDouble(r, 2, i / 4.0);
                rs->SetBool(r, 3, i % 3 == 0);
            }
            QCOMPARE(rs->RecordCount(), qint64(rows));
            qint64 r = 0;
            for (rs->MoveFirst(); !rs->Eof(); rs->MoveNext(), ++r) {
                const int i = int(r);
                QCOMPARE(rs->Fields("fno"), QVariant(qlonglong(i)));   // field names are case-insensitive
                QCOMPARE(rs->IsNull(r, 1), i % 5 == 4);
                if (i % 5 != 4)
                    QCOMPARE(rs->TextAt(r, 1), QString("C%1").arg(i % 7 == 0 ? i : i / 3));
                QCOMPARE(rs->Value(r, 2), i % 2 ? QVariant(i / 4.0) : QVariant());
                QCOMPARE(rs->Value(r, 3), QVariant(i % 3 == 0));
            }
            QCOMPARE(r, qint64(rows));
        }
    }

    // Distinct values filling several arena chunks, and one value longer than a chunk.
    void largeTextsReadBack()
    {
        const std::pair<int, int> runs[] = {{1000, 2500}, {(1 << 20) + 5, 3}};   // length, count
        for (const auto &[length, count] : runs) {
            auto rs = Recordset::Create();
            rs->AddField("FText", FT::Text);
            rs->Open();
            auto value = [&](int i) { return QString(length, QChar(u'a' + i % 26)) + QString::number(i); };
            for (int i = 0; i < count; ++i)
                rs->SetText(rs->AddRow(), 0, value(i));
            rs->SetText(rs->AddRow(), 0, u"合计");
            rs->SetText(0, 0, u"小计");   // overwritten in place; its neighbours keep their values
            QCOMPARE(rs->TextAt(0, 0), QString("小计"));
            for (int i = 1; i < count; ++i)
                QCOMPARE(rs->TextAt(i, 0), value(i));
            QCOMPARE(rs->TextAt(count, 0), QString("合计"));
        }
    }

    // A host that writes rows as they arrive gives them up by batches: the rows it still holds
    // read back unchanged while storage is reused, and memory stays that of a few batches.
    void releasedRowsReuseStorage()
    {
        // Batches within a storage block and longer than one; all rows kept take about 13 MiB.
        const std::pair<int, int> runs[] = {{4096, 1}, {100000, 11}};   // batch, most MiB
        for (const auto &[batch, mostMiB] : runs) {
            const int rows = 300000;
            auto rs = Recordset::Create();
            rs->AddField("FNo", FT::Integer);
            rs->AddField("FCode", FT::Text);
            rs->Open();
            auto code = [](qint64 i) { return i % 5 == 4 ? QString() : QString("C%1-%2").arg(i / 3).arg(QString(i % 11, u'码')); };
            for (qint64 i = 0, written = 0; i <= rows; ++i) {
                if (i % batch == 0 || i == rows) {
                    for (; written < i; ++written) {
                        QCOMPARE(rs->IntAt(written, 0), written);
                        QCOMPARE(rs->Value(written, 1), code(written).isNull() ? QVariant() : QVariant(code(written)));
                    }
                    rs->ReleaseRows(i);
                }
                if (i < rows) {
                    rs->SetInt(rs->AddRow(), 0, i);
                    if (!code(i).isNull())
                        rs->SetText(i, 1, code(i));
                }
            }
            QCOMPARE(rs->RecordCount(), qint64(rows));
            QVERIFY2(rs->MemoryBytes() < size_t(mostMiB) << 20, qPrintable(QString::number(rs->MemoryBytes())));
            QVERIFY_THROWS_EXCEPTION(VelError, rs->Value(0, 1));
        }
    }

    // A row set again after later rows leaves the text of those rows in place.
    void rewrittenRowKeepsLaterText()
    {
        auto rs = Recordset::Create();
        rs->AddField("T", FT::Text);
        rs->Open();
        rs->SetText(rs->AddRow(), 0, u"a");
        rs->ReleaseRows(1);
        rs->SetText(rs->AddRow(), 0, QString(40000, 'x'));
        rs->SetText(rs->AddRow(), 0, u"b");
        rs->SetText(1, 0, u"c");
        rs->SetText(rs->AddRow(), 0, QString(40000, 'y'));   // a new chunk
        rs->ReleaseRows(2);
        rs->SetText(rs->AddRow(), 0, QString(50000, 'z'));   // another, reusing what was given up
        QCOMPARE(rs->TextAt(2, 0), QString("b"));
    }

    // A new record set and a closed one are empty and hold nothing.
    void closeReleasesRows()
    {
        auto rs = Recordset::Create();
        QCOMPARE(rs->State(), 0);
        QVERIFY(rs->Eof());
        rs->AddField("T", FT::Text);
        rs->Open();
        rs->AddRow();
        rs->SetText(0, 0, QString(1000, 'x'));
        QVERIFY(rs->MemoryBytes() >= 2000);
        rs->Close();
        QCOMPARE(rs->State(), 0);
        QCOMPARE(rs->RecordCount(), 0);
        QCOMPARE(rs->MemoryBytes(), size_t(0));
        // and takes new fields and rows afterwards
        rs->AddField("N", FT::Integer);
        rs->Open();
        rs->SetInt(rs->AddRow(), 0, 7);
        QCOMPARE(rs->IntAt(0, 0), 7);
    }
};

QTEST_GUILESS_MAIN(tst_Recordset)
#include "tst_recordset.moc"
