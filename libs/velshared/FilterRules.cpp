#include "FilterRules.h"

#include "Types.h"
#include "WallClock.h"

namespace FilterRules {

QString TrimSpaces(const QString &text)
{
    const auto isSpace = [](QChar c) { return c == u' ' || c == u'\u3000'; };
    qsizetype from = 0;
    qsizetype to = text.size();
    while (from < to && isSpace(text[from]))
        ++from;
    while (to > from && isSpace(text[to - 1]))
        --to;
    return from == 0 && to == text.size() ? text : text.mid(from, to - from);
}

QString TextProblem(const QString &name, const QString &text)
{
    if (text.size() > MaxTextLength)
        return QStringLiteral("过滤条件“%1”太长（最多 %2 个字符）").arg(name).arg(MaxTextLength);
    for (const QChar c : text) {
        const auto kind = c.category();
        if (kind == QChar::Other_Control || kind == QChar::Separator_Line || kind == QChar::Separator_Paragraph)
            return QStringLiteral("过滤条件“%1”含有换行、制表符或其他控制字符（只能是一行文字）").arg(name);
    }
    return {};
}

VelError WrongValue(const QString &key, const QVariant &value, const QString &expected)
{
    QString shown = value.toString();
    if (shown.size() > 40)
        shown = shown.left(40) + QStringLiteral("…");
    return VelError(QStringLiteral("过滤条件“%1”的值“%2”不是%3").arg(key, shown, expected), Vel::ErrTypeMismatch,
                    QString(), Vel::ErrorKind::BadFilter);
}

VelError Missing(const QString &key)
{
    return VelError(QStringLiteral("缺少过滤条件“%1”").arg(key), Vel::ErrTypeMismatch, QString(),
                    Vel::ErrorKind::BadFilter);
}

std::optional<QDateTime> DateValue(const QString &key, const QVariant &value)
{
    std::optional<QDateTime> read;
    switch (value.typeId()) {
    case QMetaType::UnknownType:
        return std::nullopt;
    case QMetaType::QDateTime:
        read = WallClock::Of(value.toDateTime());
        break;
    case QMetaType::QDate:
        read = WallClock::At(value.toDate());
        break;
    case QMetaType::QString:
        if (value.toString().trimmed().isEmpty())
            return std::nullopt;
        read = WallClock::Read(value.toString());
        break;
    default:
        if (value.isNull())
            return std::nullopt;
        throw WrongValue(key, Vel::IsObject(value) ? QVariant() : value, QStringLiteral("日期"));
    }
    if (!read || !read->isValid())
        throw WrongValue(key, value, QStringLiteral("有效的日期"));
    return read;
}

} // namespace FilterRules
