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
                const qsizetype open = i++;
                bool closed = false;
                while (i < n) {
                    if (text[i] == u'"') {
                        if (i + 1 < n && text[i + 1] == u'"') {
                            value += u'"';
                            i += 2;
                            continue;
                        }
                        ++i;
                        closed = true;
                        break;
                    }
                    value += text[i++];
                }
                if (!closed && result.m_openQuote < 0)
                    result.m_openQuote = open;
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
        key = key.trimmed();
        if (!key.isEmpty()) {
            result.m_values.insert(key.toLower(), value);
            result.m_pairs.append({key, value});
        }
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

namespace {

// A whole number from `min` to `max`, `fallback` for an empty text; `problem` (with %1 for the
// text as given) is the error for anything else.
int wholeNumber(const ConnectionText &ct, const QString &value, int fallback, qint64 min, qint64 max,
                const QString &problem)
{
    const QString text = value.trimmed();
    if (text.isEmpty())
        return fallback;
    bool ok = false;
    const qint64 number = text.toLongLong(&ok);
    if (!ok || number < min || number > max)
        throw VelError(problem.arg(ct.Shown(text).left(40)));
    return int(number);
}

} // namespace

int ConnectionText::Port(int fallback) const
{
    return wholeNumber(*this, Value(QStringLiteral("port")), fallback, 1, 65535,
                       QStringLiteral("连接文本中的端口“%1”无效：端口应为 1 至 65535 之间的整数"));
}

void ConnectionText::Validate() const
{
    if (m_openQuote >= 0)
        throw VelError(QStringLiteral("连接文本有语法错误：第 %1 个字符处的引号没有闭合").arg(m_openQuote + 1));
    if (IsEmpty())
        throw VelError(QStringLiteral("连接文本是空的，请给出 Driver=SQLite;Database=... 或 PostgreSQL 的连接文本"));
    switch (Driver()) {
    case Engine::None:
        throw VelError(QStringLiteral("连接文本没有指定数据库类型（Driver=SQLite 或 Driver=PostgreSQL）"));
    case Engine::Unknown:
        throw VelError(QStringLiteral("不支持的数据库类型“%1”（可用 SQLite、PostgreSQL）")
                           .arg(Shown(DriverName()).left(40)));
    default:
        break;
    }
    if (Database().trimmed().isEmpty())
        throw VelError(QStringLiteral("连接文本没有指定数据库（Database=...）"));
    Port(0);
    StatementTimeout();
    LockTimeout();
    KeepAlive();
}

int ConnectionText::Seconds(const QString &key, int fallback) const
{
    return wholeNumber(*this, Value(key), fallback, 0, 86400,
                       QStringLiteral("连接文本中的 %1“%2”无效：应为 0 至 86400 之间的整秒数（0 表示不限）")
                           .arg(key, QStringLiteral("%1")));
}

QString ConnectionText::Shown(const QString &value) const
{
    if (m_openQuote >= 0)
        return {};
    for (const QChar c : value) {
        if (c == u';' || c == u'"' || c.category() == QChar::Other_Control)
            return {};
    }
    return value;
}

QString ConnectionText::Masked() const
{
    QList<QPair<QString, QString>> pairs = m_pairs;
    for (auto &[key, value] : pairs) {
        if (key.compare(u"password", Qt::CaseInsensitive) == 0)
            value = QStringLiteral("******");
    }
    // The open value is the last pair and may hold the rest of the text.
    if (m_openQuote >= 0 && !pairs.isEmpty())
        pairs.last().second = QStringLiteral("******");
    return Make(pairs);
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
