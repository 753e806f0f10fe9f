#include "Dictionary.h"

#include <QtTest>

struct Default { bool present; QVariant stored; QVariant expected; };

class tst_Containers : public QObject
{
    Q_OBJECT

private slots:
    void dictionaryKeepsInsertionOrderAndReplaces()
    {
        auto d = Dictionary::Create();
        d->SetValue("b", 1);
        d->SetValue("a", 2);
        d->SetValue("b", 3);
        QCOMPARE(d->Keys(), QStringList({"b", "a"}));
        QCOMPARE(d->Value("b").toInt(), 3);
        QCOMPARE(d->Count(), 2);
        QVERIFY(!d->Lookup("B"));   // keys are case-sensitive
        QVERIFY(!d->Value("B").isValid());
    }

    void setValueKeepsTheLiteralsKind_data()
    {
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<QVariant>("expected");
// A literal written straight into the call, as a host writes it: a variable would not show the
// overload a null-pointer constant picks.
#define STORED(literal) [] { Dictionary d; d.SetValue(QStringLiteral("GroupBy"), literal); return d.Value(QStringLiteral("GroupBy")); }()
        QTest::newRow("int 0") << STORED(0) << QVariant(0);
        QTest::newRow("long 0") << STORED(0L) << QVariant::fromValue(0L);
        QTest::newRow("double 0") << STORED(0.0) << QVariant(0.0);
        QTest::newRow("false") << STORED(false) << QVariant(false);
        QTest::newRow("short 3") << STORED(qint16(3)) << QVariant::fromValue(qint16(3));
        QTest::newRow("text 0") << STORED("0") << QVariant(QStringLiteral("0"));
        QTest::newRow("Chinese text") << STORED("张三") << QVariant(QStringLiteral("张三"));
        QTest::newRow("empty text") << STORED("") << QVariant(QString());
#undef STORED
    }
    void setValueKeepsTheLiteralsKind()
    {
        QFETCH(QVariant, stored);
        QFETCH(QVariant, expected);
        QCOMPARE(stored.metaType(), expected.metaType());
        QCOMPARE(stored, expected);
    }

    void getValueDefault_data()
    {
        QTest::addColumn<Default>("row");
        QTest::newRow("absent gives default") << Default{false, QVariant(), QVariant(QString("dflt"))};
        QTest::newRow("present empty text") << Default{true, QVariant(QString()), QVariant(QString())};
        QTest::newRow("present short") << Default{true, QVariant::fromValue(qint16(7)), QVariant::fromValue(qint16(7))};
    }
    void getValueDefault()
    {
        QFETCH(Default, row);
        const auto &[present, stored, expected] = row;
        auto d = Dictionary::Create();
        if (present)
            d->SetValue("k", stored);
        const QVariant got = d->GetValue("k", QString("dflt"));
        QCOMPARE(got, expected);
        QCOMPARE(got.metaType(), expected.metaType());
    }
};

QTEST_GUILESS_MAIN(tst_Containers)
#include "tst_containers.moc"
