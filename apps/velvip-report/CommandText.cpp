#include "CommandText.h"

#include <cstdio>

namespace CommandText {

void PrintErr(const QString &text)
{
    std::fputs(text.toLocal8Bit().constData(), stderr);
    std::fflush(stderr);
}

int UsageError(const char *command, const char *usage, const QString &why)
{
    PrintErr(QStringLiteral("%1: %2\n").arg(QLatin1String(command), why));
    std::fputs(usage, stderr);
    return 2;
}

} // namespace CommandText
