#include "filters/ComboFill.h"
#include "HostContextReader.h"

#include "HostKit.h"

#include "ComponentRegistry.h"
#include "Dictionary.h"
#include "ServerData.h"
#include "VelError.h"

#include <QComboBox>
#include <QtTest>

struct ComboCase { int appType; QList<QVariantList> table; int selectCode; QStringList texts; int selected; };

// Host context getters, shared properties and drop-down filling, against the host kit.
class tst_Shared : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { RegisterHostKitComponents(); }

    void init()
    {
        HostContext::Clear();
        HostContext::Publish();
    }

    void getters_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QVariant>("stored");   // invalid: key absent
        QTest::addColumn<QVariant>("expected"); // invalid: the getter fails
        QTest::newRow("no context published") << "" << QVariant() << QVariant();

        QTest::newRow("AppType absent") << "AppType" << QVariant() << QVariant(qint32(2));
        QTest::newRow("AppType text 3") << "AppType" << QVariant(QStringLiteral("3")) << QVariant(qint32(3));
        QTest::newRow("AppType smallest 32-bit") << "AppType" << QVariant(QStringLiteral("-2147483648"))
                                                 << QVariant(qint32(-2147483648LL));
        QTest::newRow("AppType text abc") << "AppType" << QVariant(QStringLiteral("abc")) << QVariant();
        QTest::newRow("ISBranch absent") << "ISBranch" << QVariant() << QVariant(false);
        QTest::newRow("ISBranch number 1") << "ISBranch" << QVariant(1) << QVariant(true);
        QTest::newRow("ISBranch text True") << "ISBranch" << QVariant(QStringLiteral("True")) << QVariant(true);
        QTest::newRow("ISBranch text yes") << "ISBranch" << QVariant(QStringLiteral("yes")) << QVariant();
        QTest::newRow("SVCardShareType absent") << "SVCardShareType" << QVariant() << QVariant(false);
        QTest::newRow("BranchNum absent") << "BranchNum" << QVariant() << QVariant(QString());
        QTest::newRow("BranchNum number") << "BranchNum" << QVariant(12) << QVariant(QStringLiteral("12"));
    }

    void getters()
    {
        QFETCH(QString, key);
        QFETCH(QVariant, stored);
        QFETCH(QVariant, expected);
        if (key.isEmpty())
            HostContext::Withdraw();
        if (stored.isValid())
            HostContext::SetValue(key, stored);

        QVariant got;
        try {
            if (key == QLatin1String("AppType") || key.isEmpty())
                got = GetAppType();
            else if (key == QLatin1String("ISBranch"))
                got = GetIsBranch();
            else if (key == QLatin1String("SVCardShareType"))
                got = GetSVCardShareType();
            else
                got = GetBranchNum();
        } catch (const VelError &e) {
            QVERIFY2(!expected.isValid(), "the getter failed unexpectedly");
            QCOMPARE(e.Number() == qint32(Vel::ErrObjectNotSet), key.isEmpty());
            return;
        }
        QVERIFY2(expected.isValid(), "the getter should have failed");
        QCOMPARE(got.metaType(), expected.metaType());
        QCOMPARE(got, expected);
    }

    // Read anew from the shared properties each time; without them, an error.
    void propsStringIsReadAnewEachTime()
    {
        ShareProps::SetHostProperty(QStringLiteral("PropsString"), QStringLiteral("Driver=SQLite;Database=a.db"));
        QCOMPARE(GetPropsString(), QStringLiteral("Driver=SQLite;Database=a.db"));
        ShareProps::SetHostProperty(QStringLiteral("PropsString"), QStringLiteral("Driver=SQLite;Database=b.db"));
        QCOMPARE(GetPropsString(), QStringLiteral("Driver=SQLite;Database=b.db"));
        ComponentRegistry::Instance().Unregister(QString::fromLatin1(Vel::SharePropsProgId));
        QVERIFY_THROWS_EXCEPTION(VelError, GetPropsString());
        RegisterHostKitComponents();
    }

    void fillCombo_data()
    {
        QTest::addColumn<ComboCase>("row");

        const QList<QVariantList> masks = {{0, "all", 7}, {1, "one", 1}, {2, "two", 2}, {3, "onetwo", 3}, {4, "none", 0}};
        QTest::newRow("type 2 keeps masks with bit 2") << ComboCase{2, masks, 3, QStringList{"all", "two", "onetwo"}, 2};
        QTest::newRow("type 3 needs both bits") << ComboCase{3, masks, 1, QStringList{"all", "onetwo"}, 0};
        QTest::newRow("type 0 keeps every entry") << ComboCase{0, masks, 4, QStringList{"all", "one", "two", "onetwo", "none"}, 4};
        QTest::newRow("nothing passes") << ComboCase{4, QList<QVariantList>{{0, "a", 3}}, 0, QStringList{}, -1};
        QTest::newRow("duplicate code selects the first")
            << ComboCase{2, QList<QVariantList>{{5, "a", 2}, {6, "b", 2}, {6, "c", 2}}, 6, QStringList{"a", "b", "c"}, 1};
    }

    void fillCombo()
    {
        QFETCH(ComboCase, row);
        const auto &[appType, table, selectCode, texts, selected] = row;
        HostContext::SetAppType(appType);

        QComboBox combo;
        combo.addItem(QStringLiteral("stale"), 99);
        FillCombo(&combo, table, selectCode);
        QStringList shown;
        for (int i = 0; i < combo.count(); ++i)
            shown << combo.itemText(i);
        QCOMPARE(shown, texts);
        QCOMPARE(combo.currentIndex(), selected);
    }

    void findComboItemData()
    {
        HostContext::SetAppType(1);
        QComboBox combo;
        QCOMPARE(FindComboItemData(&combo, 0), qint16(-1));
        QCOMPARE(FindComboItemData(nullptr, 0), qint16(-1));
        FillCombo(&combo, {{0, "a", 2}, {1, "b", 1}, {2, "c", 1}, {2, "d", 1}});
        // Positions count only the entries that passed the mask.
        QCOMPARE(FindComboItemData(&combo, 1), qint16(0));
        QCOMPARE(FindComboItemData(&combo, 2), qint16(1));
        QCOMPARE(FindComboItemData(&combo, 0), qint16(-1));
    }
};

QTEST_MAIN(tst_Shared)
#include "tst_shared.moc"
