#include "GuiPlatform.h"

#include <QGuiApplication>
#include <QTextStream>

namespace GuiPlatform {

namespace {

QString s_asked;

bool hasDisplay()
{
    return qEnvironmentVariableIsSet("DISPLAY") || qEnvironmentVariableIsSet("WAYLAND_DISPLAY");
}

// Platforms that draw nowhere a person could see: a window there would wait for ever.
bool isInvisible(const QString &name)
{
    return name == u"offscreen" || name == u"minimal" || name == u"minimalegl";
}

QString asked()
{
    return QString::fromLocal8Bit(qgetenv("QT_QPA_PLATFORM")).section(u';', 0, 0).section(u':', 0, 0);
}

} // namespace

QString Prepare()
{
    s_asked = asked();
    if (isInvisible(s_asked))
        return QStringLiteral("当前平台 %1 不显示窗口").arg(s_asked);
    if (s_asked.isEmpty() && !hasDisplay())
        return QStringLiteral("没有 DISPLAY");
    const QByteArray own = qgetenv("QT_QPA_PLATFORM");
    if (!own.isEmpty())
        qputenv("QT_QPA_PLATFORM", own + ";offscreen");
    else
        qputenv("QT_QPA_PLATFORM", qEnvironmentVariableIsSet("WAYLAND_DISPLAY") ? "wayland;xcb;offscreen" : "xcb;offscreen");
    return {};
}

QString Check()
{
    if (!isInvisible(QGuiApplication::platformName()))
        return {};
    return QStringLiteral("无法连接显示 %1")
        .arg(!s_asked.isEmpty() ? s_asked : qEnvironmentVariable("DISPLAY", qEnvironmentVariable("WAYLAND_DISPLAY")));
}

int Refuse(const char *program, const QString &what, const QString &why)
{
    QTextStream(stderr) << QStringLiteral("%1: %2需要图形界面（%3）").arg(QLatin1String(program), what, why) << Qt::endl;
    return 2;
}

void PrepareOffscreenFallback()
{
    if (asked().isEmpty() && !hasDisplay())
        qputenv("QT_QPA_PLATFORM", "offscreen");
}

} // namespace GuiPlatform
