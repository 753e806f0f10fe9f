#include "QuietMessages.h"

#include <QString>
#include <QtGlobal>

#include <cstdio>

namespace {

QtMessageHandler g_previousHandler = nullptr;

void quietHandler(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type == QtWarningMsg && message.startsWith(QLatin1String("QStandardPaths: XDG_RUNTIME_DIR not set")))
        return;
    // The offscreen platform's note for every window that is shown (screenshots without a display).
    if (type == QtWarningMsg && message == QLatin1String("This plugin does not support propagateSizeHints()"))
        return;
    if (g_previousHandler)
        g_previousHandler(type, context, message);
    else
        std::fprintf(stderr, "%s\n", qFormatLogMessage(type, context, message).toLocal8Bit().constData());
}

} // namespace

void InstallQuietMessageHandler()
{
    g_previousHandler = qInstallMessageHandler(quietHandler);
}
