#include "ConnectionText.h"

#include "VelError.h"

ConnectionText ConnectionText::Parse(const QString &text)
{
    ConnectionText result;
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i < n) {
        QString key;
        while (i < n && text[i] != u'=' && text[i] != u';')
            key += text[i++];
        QString value;
        if (i < n && text[i] == u'=') {
            ++i;
            while (i < n && text[i].isSpace())
                ++i;
            if (i < n && text[i] == u'"') {
                ++i;
                while (i < n) {
                    if (text[i] == u'"') {
                        if (i + 1 < n && text[i + 1] == u'"') {
                            value += u'"';
                            i += 2;
                            continue;
                        }
                        ++i;
                        break;
                    }
                    value += text[i++];
                }
                while (i < n && text[i] != u';')
                    ++i;    // anything after the closing quote is dropped
            } else {
                while (i < n && text[i] != u';')
                    value += text[i++];
                value = value.trimmed();
            }
        }
        if (i < n && text[i] == u';')
            ++i;
        key = key.trimmed().toLower();
        if (!key.isEmpty())
            result.m_values.insert(key, value);
    }
    return result;
}

ConnectionText::Engine ConnectionText::Driver() const
{
    const QString name = DriverName().toLower();
    if (name.isEmpty())
        return Engine::None;
    if (name == u"sqlite" || name == u"sqlite3" || name == u"qsqlite")
        return Engine::SQLite;
    if (name == u"postgresql" || name == u"postgres" || name == u"pgsql" || name == u"qpsql")
        return Engine::PostgreSQL;
    return Engine::Unknown;
}

int ConnectionText::Port(int fallback) const
{
    bool ok = false;
    const int port = Value(QStringLiteral("port")).trimmed().toInt(&ok);
    return ok && port > 0 && port < 65536 ? port : fallback;
}

void ConnectionText::Validate() const
{
    switch (Driver()) {
    case Engine::None:
        throw VelError(QStringLiteral("连接文本没有指定数据库类型（Driver=SQLite 或 Driver=PostgreSQL）"));
    case Engine::Unknown:
        throw VelError(QStringLiteral("不支持的数据库类型“%1”（可用 SQLite、PostgreSQL）")
                           .arg(Redact(DriverName())));
    default:
        break;
    }
    if (Database().trimmed().isEmpty())
        throw VelError(QStringLiteral("连接文本没有指定数据库（Database=...）"));
}

QString ConnectionText::Redact(const QString &text) const
{
    const QString password = Password();
    if (password.isEmpty())
        return text;
    QString out = text;
    out.replace(password, QStringLiteral("******"));
    return out;
}

QString ConnectionText::Make(const QList<QPair<QString, QString>> &pairs)
{
    QStringList parts;
    for (const auto &[key, value] : pairs) {
        const bool quote = value.contains(u';') || value.contains(u'=') || value.contains(u'"')
            || value != value.trimmed();
        QString v = value;
        if (quote)
            v = u'"' + QString(value).replace(u'"', QStringLiteral("\"\"")) + u'"';
        parts << key + u'=' + v;
    }
    return parts.join(u';');
}
