// minimal-host: the smallest complete host of the VelVipRpt plug-in.
//
//   minimal-host RPTID DATABASE [KEY=VALUE]...
//
// Runs report RPTID (10901..10906) on the SQLite chain DATABASE with the filter KEY=VALUE...
// and prints the report's shown columns, tab-separated, one row per line. For example:
//
//   velvip-report make-demo --out chain.sqlite --start 2024-01-01 --members 300 --days 60
//   minimal-host 10906 chain.sqlite BItemNumber=
//   minimal-host 10903 chain.sqlite "BDate=2024-01-01 00:00:00" "EDate=2024-01-31 23:59:59"
//
// The plug-in file is the one the package installed; VELVIPRPT_PLUGIN in the environment
// names another.

#include "ComponentRegistry.h"        // ProgID -> factory, shared by the host and the plug-in
#include "Dictionary.h"
#include "HeaderColumns.h"            // ReadHeaderColumns: captions as the hosts show them
#include "HostKit.h"                  // HostContext, ShareProps, RegisterHostKitComponents
#include "Recordset.h"
#include "ServerComponents.h"         // RegisterServerComponents: "VelMVipRpt.GLData"
#include "Vector.h"
#include "VelError.h"
#include "facade/ComponentLibrary.h"  // IComponentLibrary, what the plug-in instance offers

#include <QApplication>
#include <QPluginLoader>
#include <QTextStream>

static int run(const QStringList &args)
{
    QTextStream out(stdout);
    QTextStream err(stderr);

    // 1. The outside components the plug-in creates by ProgID: the shared-property store and
    //    the server data component. A host that shows the filter dialogs also registers the
    //    filter panel (RegisterFilterPanelComponent, target VelVipRpt::FilterPanel).
    RegisterHostKitComponents();
    RegisterServerComponents();

    // 2. The host context, found by the plug-in without an argument: a head office whose
    //    stored-value cards are shared by all branches. Then the login's connection text.
    HostContext::SetAppType(2);
    HostContext::SetIsBranch(false);
    HostContext::SetSVCardShareType(true);
    HostContext::Publish();
    ShareProps::SetHostProperty(QStringLiteral("PropsString"), QStringLiteral("Driver=SQLite;Database=") + args[2]);

    // 3. Load the plug-in and register its classes ("VelVipRpt.Application", ...).
    QPluginLoader loader(qEnvironmentVariableIsSet("VELVIPRPT_PLUGIN") ? qEnvironmentVariable("VELVIPRPT_PLUGIN")
                                                                      : QStringLiteral(VELVIPRPT_PLUGIN));
    auto *library = qobject_cast<IComponentLibrary *>(loader.instance());
    if (!library) {
        err << "无法加载插件：" << loader.errorString() << Qt::endl;
        return 1;
    }
    library->RegisterServer();

    // 4. Create Application and drive it by name, through its properties and invokable
    //    methods: the host needs none of the plug-in's classes at compile time.
    std::unique_ptr<QObject> application = ComponentRegistry::Instance().Create(QStringLiteral("VelVipRpt.Application"));
    DictionaryPtr filter = Dictionary::Create();
    for (const QString &pair : args.mid(3)) {
        const qsizetype eq = pair.indexOf(QLatin1Char('='));
        if (eq <= 0) {
            err << "过滤条件应为 KEY=VALUE：" << pair << Qt::endl;
            return 2;
        }
        filter->SetValue(pair.left(eq), pair.mid(eq + 1));
    }
    application->setProperty("RptID", args[1].toInt());
    application->setProperty("Filter", QVariant::fromValue(filter));
    // Runs the query inside the plug-in's modal progress window; returns when it is done.
    QMetaObject::invokeMethod(application.get(), "GetReportData");

    // 5. The outcome is in Result, never in a return value.
    const auto result = application->property("Result").value<DictionaryPtr>();
    if (!result->Value(QStringLiteral("OK")).toBool()) {
        err << "报表运行失败：" << result->Value(QStringLiteral("Error")).toString() << Qt::endl;
        return 1;
    }

    // 6. Header holds one column entry per column, in display order; ReadHeaderColumns reads
    //    their captions (without the "$" and "+|" marks) and whether the grid shows them.
    //    rs holds the rows under the entries' "FColName".
    const auto header = application->property("Header").value<VectorPtr>();
    const auto rs = application->property("rs").value<RecordsetPtr>();
    QStringList names, captions;
    for (const HeaderColumn &column : ReadHeaderColumns(header)) {
        if (!column.visible)
            continue;
        names << column.field;
        captions << column.FlatCaption();
    }
    out << captions.join(QLatin1Char('\t')) << '\n';
    for (qint64 row = 0; row < rs->RecordCount(); ++row) {
        QStringList cells;
        for (const QString &name : names)
            cells << rs->Value(row, name).toString();
        out << cells.join(QLatin1Char('\t')) << '\n';
    }

    // 7. Release every object the plug-in made before it is unloaded.
    application.reset();
    library->UnregisterServer();
    return 0;
}

int main(int argc, char **argv)
{
    // The progress window needs a GUI application; without a display it runs offscreen.
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")
        && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (app.arguments().size() < 3) {
        QTextStream(stderr) << "用法：minimal-host RPTID DATABASE [KEY=VALUE]..." << Qt::endl;
        return 2;
    }
    try {
        return run(app.arguments());
    } catch (const VelError &e) {  // e.g. a ProgID that nobody registered
        QTextStream(stderr) << e.Description() << Qt::endl;
        return 1;
    }
}
