#include "ConnectionSettings.h"

#include "ConnectionText.h"
#include "DemoChain.h"
#include "PasswordKeyring.h"
#include "ReportSession.h"
#include "VelError.h"

#include <QSettings>

namespace {

const QString kGroup = QStringLiteral("connection");
const QStringList kContextKeys = {QStringLiteral("AppType"), QStringLiteral("ISBranch"),
                                  QStringLiteral("SVCardShareType"), QStringLiteral("BranchNum")};

} // namespace

ConnectionSettings ConnectionSettings::Load(QSettings &settings)
{
    ConnectionSettings s;
    settings.beginGroup(kGroup);
    const QString kind = settings.value(QStringLiteral("kind"), QStringLiteral("demo")).toString();
    s.kind = kind == QLatin1String("sqlite") ? Kind::SQLite
        : kind == QLatin1String("postgresql") ? Kind::PostgreSQL : Kind::Demo;
    s.sqlitePath = settings.value(QStringLiteral("sqlitePath")).toString();
    s.host = settings.value(QStringLiteral("host"), s.host).toString();
    s.port = settings.value(QStringLiteral("port"), s.port).toInt();
    s.database = settings.value(QStringLiteral("database")).toString();
    s.user = settings.value(QStringLiteral("user")).toString();
    s.rememberPassword = settings.value(QStringLiteral("rememberPassword"), false).toBool();
    if (s.rememberPassword && s.kind == Kind::PostgreSQL)
        s.password = PasswordKeyring::Read(s.KeyringLogin());
    settings.endGroup();

    s.context = ReportSession::DefaultContext();
    settings.beginGroup(QStringLiteral("context"));
    for (const QString &key : kContextKeys)
        if (settings.contains(key))
            s.context.insert(key, settings.value(key));
    settings.endGroup();
    return s;
}

QString ConnectionSettings::Save(QSettings &settings) const
{
    QString problem;
    if (rememberPassword && kind == Kind::PostgreSQL)
        problem = PasswordKeyring::Store(KeyringLogin(), password);
    settings.beginGroup(kGroup);
    settings.setValue(QStringLiteral("kind"), kind == Kind::SQLite ? QStringLiteral("sqlite")
                                              : kind == Kind::PostgreSQL ? QStringLiteral("postgresql")
                                                                         : QStringLiteral("demo"));
    settings.setValue(QStringLiteral("sqlitePath"), sqlitePath);
    settings.setValue(QStringLiteral("host"), host);
    settings.setValue(QStringLiteral("port"), port);
    settings.setValue(QStringLiteral("database"), database);
    settings.setValue(QStringLiteral("user"), user);
    settings.setValue(QStringLiteral("rememberPassword"), rememberPassword && problem.isEmpty());
    // Also what an older version kept here in plain text.
    settings.remove(QStringLiteral("password"));
    settings.endGroup();

    settings.beginGroup(QStringLiteral("context"));
    for (const QString &key : kContextKeys)
        settings.setValue(key, context.value(key));
    settings.endGroup();
    return problem;
}

QString ConnectionSettings::KeyringLogin() const
{
    return QStringLiteral("%1@%2:%3/%4").arg(user, host).arg(port).arg(database);
}

QString ConnectionSettings::PropsString() const
{
    switch (kind) {
    case Kind::Demo:
        return ReportSession::DefaultPropsString();
    case Kind::SQLite:
        if (sqlitePath.trimmed().isEmpty())
            throw VelError(QStringLiteral("没有选择 SQLite 数据库文件"));
        return DemoChain::SqliteConnectionText(sqlitePath);
    case Kind::PostgreSQL:
        return ConnectionText::Make({{QStringLiteral("Driver"), QStringLiteral("PostgreSQL")},
                                     {QStringLiteral("Host"), host},
                                     {QStringLiteral("Port"), QString::number(port)},
                                     {QStringLiteral("Database"), database},
                                     {QStringLiteral("User"), user},
                                     {QStringLiteral("Password"), password}});
    }
    return {};
}

QString ConnectionSettings::Describe() const
{
    switch (kind) {
    case Kind::Demo: return QStringLiteral("演示数据库");
    case Kind::SQLite: return QStringLiteral("SQLite：%1").arg(sqlitePath);
    case Kind::PostgreSQL: return QStringLiteral("PostgreSQL：%1@%2:%3/%4").arg(user, host).arg(port).arg(database);
    }
    return {};
}
