#include "PluginLoader.h"

#include "VelError.h"
#include "facade/Catalog.h"
#include "facade/ComponentLibrary.h"

#include <QCoreApplication>
#include <QDir>
#include <QJsonArray>
#include <QPluginLoader>

namespace PluginLoader {

namespace {

bool offersApplication(const QJsonObject &metaData)
{
    const QJsonArray ids = metaData.value(QLatin1String("MetaData")).toObject().value(QLatin1String("ProgIds")).toArray();
    return ids.contains(QLatin1String(VelVipRpt::ApplicationProgId));
}

} // namespace

QStringList Folders()
{
    QStringList folders;
    for (const QString &folder : qEnvironmentVariable("VELVIPRPT_PLUGIN_PATH").split(u':', Qt::SkipEmptyParts))
        folders << folder;
    const QString programDir = QCoreApplication::applicationDirPath();
    for (const char *relative : {VEL_PLUGIN_DIR_FROM_BIN, "../lib/plugins"})
        folders << QDir::cleanPath(programDir + u'/' + QLatin1String(relative));
    folders.removeDuplicates();
    return folders;
}

QString Problem(const QString &file, const QJsonObject &metaData)
{
    const int version = metaData.value(QLatin1String("MetaData")).toObject().value(QLatin1String("InterfaceVersion")).toInt();
    if (metaData.value(QLatin1String("IID")).toString() == QLatin1String(IComponentLibrary_iid)
        && version == VelVipRpt::InterfaceVersion)
        return {};
    return QStringLiteral("报表插件 %1 的接口版本是 %2，本程序需要版本 %3，请安装与本程序同一版本的插件")
        .arg(QDir::toNativeSeparators(file))
        .arg(version)
        .arg(VelVipRpt::InterfaceVersion);
}

QString Locate()
{
    const QStringList folders = Folders();
    QString problem;
    for (const QString &folder : folders) {
        const QDir dir(folder);
        for (const QString &name : dir.entryList(QDir::Files, QDir::Name)) {
            const QString file = dir.filePath(name);
            if (!QLibrary::isLibrary(file))
                continue;
            const QJsonObject metaData = QPluginLoader(file).metaData();
            if (!offersApplication(metaData))
                continue;
            problem = Problem(file, metaData);
            if (problem.isEmpty())
                return file;
        }
    }
    if (problem.isEmpty())
        problem = QStringLiteral("找不到报表插件：%1 中没有提供 %2 的插件")
                      .arg(folders.join(QStringLiteral("、")), QLatin1String(VelVipRpt::ApplicationProgId));
    throw VelError(problem);
}

void Load()
{
    static IComponentLibrary *library = nullptr;
    if (library)
        return;
    const QString file = Locate();
    // Stays loaded for the life of the process: its objects live as long as the host's.
    QPluginLoader loader(file);
    library = qobject_cast<IComponentLibrary *>(loader.instance());
    if (!library)
        throw VelError(QStringLiteral("无法加载报表插件 %1：%2").arg(QDir::toNativeSeparators(file), loader.errorString()));
    library->RegisterServer();
}

} // namespace PluginLoader
