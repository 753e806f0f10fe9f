#include "FakeServerData.h"

#include "PluginLoader.h"
#include "facade/Catalog.h"
#include "facade/ComponentLibrary.h"

#include "HostKit.h"

#include "ComponentRegistry.h"
#include "Dictionary.h"
#include "Recordset.h"
#include "Vector.h"

#include <QJsonArray>
#include <QLibrary>
#include <QPluginLoader>
#include <QtTest>

// The built library loaded the way a host loads it, and driven only by name.
class tst_PluginLoader : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        RegisterHostKitComponents();
        HostContext::Publish();
        ShareProps::SetHostProperty(QStringLiteral("PropsString"), QStringLiteral("Driver=SQLite;Database=x.db"));
        FakeServerData::Install();
        QVERIFY2(m_loader.load(), qPrintable(m_loader.errorString()));
        m_library = qobject_cast<IComponentLibrary *>(m_loader.instance());
        QVERIFY(m_library);
    }

    // The metadata a host reads before loading says what the library then offers, and the
    // public catalogue's reports are among it.
    void metadataMatchesTheLibrary()
    {
        QStringList listed;
        const QJsonArray ids = m_loader.metaData().value("MetaData").toObject().value("ProgIds").toArray();
        for (const auto &id : ids)
            listed << id.toString();
        QCOMPARE(listed, m_library->ProgIds());
        for (const VelVipRpt::ReportEntry &r : VelVipRpt::Reports)
            QVERIFY(listed.contains(QLatin1String(r.progId)));
        QCOMPARE(PluginLoader::Problem(m_loader.fileName(), m_loader.metaData()), QString());
    }

    void otherVersionsAreRefused_data()
    {
        QTest::addColumn<QString>("iid");
        QTest::addColumn<int>("version");
        QTest::newRow("newer interface version") << IComponentLibrary_iid << VelVipRpt::InterfaceVersion + 1;
        QTest::newRow("no version") << IComponentLibrary_iid << 0;
        QTest::newRow("other plug-in interface") << "com.velvip.IComponentLibrary/2.0" << VelVipRpt::InterfaceVersion;
    }

    void otherVersionsAreRefused()
    {
        QFETCH(QString, iid);
        QFETCH(int, version);
        QJsonObject metaData = m_loader.metaData();
        QJsonObject own = metaData.value("MetaData").toObject();
        own.insert("InterfaceVersion", version);
        metaData.insert("MetaData", own);
        metaData.insert("IID", iid);
        const QString problem = PluginLoader::Problem(QStringLiteral("/p/libVelVipRpt.so"), metaData);
        QVERIFY(problem.contains(QStringLiteral("/p/libVelVipRpt.so")));
        QVERIFY(problem.contains(QStringLiteral("版本是 %1，").arg(version)));
    }

    void runsAReportByName()
    {
        m_library->RegisterServer();
        QVERIFY(ComponentRegistry::Instance().IsRegistered(QStringLiteral("VelVipRpt.Application")));
        std::unique_ptr<QObject> app = ComponentRegistry::Instance().Create(QStringLiteral("VelVipRpt.Application"));
        QVERIFY(!m_library->CanUnloadNow());

        DictionaryPtr filter = Dictionary::Create();
        filter->SetValue(QStringLiteral("BarCode"), QStringLiteral("6901"));
        QVERIFY(app->setProperty("RptID", 10906));
        QVERIFY(app->setProperty("Filter", QVariant::fromValue(filter)));
        QVariant returned;
        QVERIFY(QMetaObject::invokeMethod(app.get(), "GetReportData", Q_RETURN_ARG(QVariant, returned)));
        QVERIFY(!returned.isValid());

        const DictionaryPtr result = app->property("Result").value<DictionaryPtr>();
        QVERIFY(result);
        QCOMPARE(result->Value(QStringLiteral("OK")), QVariant(true));
        QCOMPARE(app->property("Header").value<VectorPtr>()->Count(), 9);
        QCOMPARE(app->property("rs").value<RecordsetPtr>(), FakeServerData::log.rowsGiven);
        QCOMPARE(FakeServerData::log.filterSeen->Value(QStringLiteral("BarCode")), QVariant(QStringLiteral("6901")));
        QCOMPARE(FakeServerData::log.rptId, 10906);

        app.reset();
        QVERIFY(m_library->CanUnloadNow());
        m_library->UnregisterServer();
        QVERIFY(!ComponentRegistry::Instance().IsRegistered(QStringLiteral("VelVipRpt.Application")));
    }

    // The module exports its plain entry points under their C names; registering through them is
    // what RegisterServer above does.
    void plainEntryPoints()
    {
        QLibrary library(QStringLiteral(VELVIPRPT_PATH));
        for (const char *name : {"DllRegisterServer", "DllUnregisterServer"})
            QVERIFY2(library.resolve(name), name);
        auto getClassObject = reinterpret_cast<QObject *(*)(const char *)>(library.resolve("DllGetClassObject"));
        auto canUnload = reinterpret_cast<int (*)()>(library.resolve("DllCanUnloadNow"));
        QVERIFY(getClassObject && canUnload);

        QVERIFY(!getClassObject("VelVipRpt.Bar"));
        std::unique_ptr<QObject> report(getClassObject("VelVipRpt.Rpt10903"));
        QVERIFY(report);
        QCOMPARE(canUnload(), 0);
        QVERIFY(report->property("Filter").isValid());
        report.reset();
        QCOMPARE(canUnload(), 1);
    }

private:
    QPluginLoader m_loader{QStringLiteral(VELVIPRPT_PATH)};
    IComponentLibrary *m_library = nullptr;
};

QTEST_MAIN(tst_PluginLoader)
#include "tst_plugin_loader.moc"
