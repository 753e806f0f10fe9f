#include "ChainOptions.h"

#include "DemoChain.h"
#include "VelError.h"

#include <QCommandLineParser>
#include <QFile>

int ChainOptions::Given(const QCommandLineParser &parser) const
{
    return int(parser.isSet(db)) + int(parser.isSet(props)) + int(parser.isSet(propsFile));
}

QString ChainOptions::Text(const QCommandLineParser &parser) const
{
    if (parser.isSet(db))
        return DemoChain::SqliteConnectionText(parser.value(db));
    if (parser.isSet(props))
        return parser.value(props);
    if (!parser.isSet(propsFile))
        return {};
    QFile file(parser.value(propsFile));
    if (!file.open(QIODevice::ReadOnly) || file.size() > 64 * 1024)
        throw VelError(QStringLiteral("无法读取连接文本文件 %1").arg(file.fileName()));
    return QString::fromUtf8(file.readAll()).trimmed();
}
