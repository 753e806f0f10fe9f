#include "FilterRules.h"

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

VelError WrongValue(const QString &key, const QVariant &value, const QString &expected)
{
    QString shown = value.toString();
    if (shown.size() > 40)
        shown = shown.left(40) + QStringLiteral("…");
    return VelError(QStringLiteral("过滤条件“%1”的值“%2”不是%3").arg(key, shown, expected), Vel::ErrTypeMismatch);
}

VelError Missing(const QString &key)
{
    return VelError(QStringLiteral("缺少过滤条件“%1”").arg(key), Vel::ErrTypeMismatch);
}

QDateTime ParseWallClock(const QString &text)
{
    // Date and time of day are read apart: a local reading would refuse or move the times that
    // a change to daylight saving skips.
    static const struct { const char *date; const char *time; } forms[] = {
        {"yyyy-MM-dd", "HH:mm:ss"}, {"yyyy-MM-dd", "HH:mm"}, {"yyyy-MM-dd", nullptr},
        {"yyyy/M/d", "H:mm:ss"}, {"yyyy/M/d", nullptr},
    };
    const QString trimmed = text.trimmed();
    qsizetype split = trimmed.indexOf(u' ');
    if (split < 0)
        split = trimmed.indexOf(u'T');
    const QString datePart = split < 0 ? trimmed : trimmed.left(split);
    const QString timePart = split < 0 ? QString() : trimmed.mid(split + 1);
    const bool isoSplit = split >= 0 && trimmed[split] == u'T';
    for (const auto &form : forms) {
        if ((form.time == nullptr) != (split < 0))
            continue;
        if (isoSplit && qstrcmp(form.time, "HH:mm:ss") != 0)
            continue;
        const QDate date = QDate::fromString(datePart, QLatin1String(form.date));
        const QTime time = form.time ? QTime::fromString(timePart, QLatin1String(form.time)) : QTime(0, 0);
        if (date.isValid() && time.isValid())
            return QDateTime(date, time, Qt::UTC);
    }
    return QDateTime();
}

QDateTime WallClock(const QDateTime &value)
{
    return value.isValid() ? QDateTime(value.date(), value.time(), Qt::UTC) : QDateTime();
}

} // namespace FilterRules
