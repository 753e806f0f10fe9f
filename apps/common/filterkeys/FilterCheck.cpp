#include "FilterCheck.h"

#include "Dictionary.h"
#include "FilterDates.h"
#include "ReportKeys.h"
#include "WallClock.h"

#include <cmath>
#include <optional>
#include <vector>

namespace FilterCheck {

namespace {

using ReportKeys::Key;
using ReportKeys::Kind;

qsizetype editDistance(const QString &a, const QString &b)
{
    std::vector<qsizetype> row(b.size() + 1);
    for (qsizetype j = 0; j <= b.size(); ++j)
        row[j] = j;
    for (qsizetype i = 1; i <= a.size(); ++i) {
        qsizetype diagonal = row[0];
        row[0] = i;
        for (qsizetype j = 1; j <= b.size(); ++j) {
            const qsizetype above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[b.size()];
}

QString shown(const QVariant &value)
{
    const QString text = value.toString();
    return QStringLiteral("“%1”").arg(text.size() > 40 ? text.left(40) + QStringLiteral("…") : text);
}

QString wrongKind(const QString &name, const QVariant &value, const QString &expected)
{
    if (Vel::IsObject(value) || value.typeId() == QMetaType::QVariantList)
        return QStringLiteral("过滤条件“%1”的值是数组或对象，应为%2").arg(name, expected);
    if (value.typeId() == QMetaType::Bool)
        return QStringLiteral("过滤条件“%1”的值是真假值 %2，应为%3")
            .arg(name, value.toBool() ? QStringLiteral("true") : QStringLiteral("false"), expected);
    return QStringLiteral("过滤条件“%1”的值%2不对，应为%3").arg(name, shown(value), expected);
}

QString expected(const Key &key)
{
    switch (key.kind) {
    case Kind::Text: return QStringLiteral("文本");
    case Kind::DateTime: return QStringLiteral("日期，例如 2024-05-31 或 2024-05-31 23:59:59");
    default: break;
    }
    return key.choices.isEmpty() ? QStringLiteral("%1 的整数").arg(key.ValuesText())
                                 : QStringLiteral("以下整数之一：%1").arg(key.ValuesText());
}

bool isNumber(const QVariant &v)
{
    switch (v.typeId()) {
    case QMetaType::Short: case QMetaType::UShort: case QMetaType::Int: case QMetaType::UInt:
    case QMetaType::LongLong: case QMetaType::ULongLong: case QMetaType::Double: case QMetaType::Float:
        return true;
    default:
        return false;
    }
}

bool isEmptyValue(const QVariant &v)
{
    return !v.isValid() || v.isNull() || (v.typeId() == QMetaType::QString && v.toString().trimmed().isEmpty());
}

// The value in the dialog's type, or nothing when it has the wrong kind.
std::optional<QVariant> converted(const Key &key, const QVariant &value, QString *why)
{
    if (Vel::IsObject(value) || value.typeId() == QMetaType::QVariantList)
        return std::nullopt;
    const bool isText = value.typeId() == QMetaType::QString;
    switch (key.kind) {
    case Kind::Text:
        if (isText)
            return value.toString().trimmed();
        if (isNumber(value))
            return value.toString();   // a code typed as a number in JSON
        return std::nullopt;
    case Kind::DateTime: {
        if (!isText)
            return std::nullopt;
        const auto bound = key.name.startsWith(u'E') ? WallClock::Bound::End : WallClock::Bound::Begin;
        if (const auto dt = WallClock::Read(value.toString(), bound))
            return WallClock::Text(*dt);
        *why = FilterDates::NotADateMessage(key.name, value.toString());
        return std::nullopt;
    }
    case Kind::Int32:
    case Kind::Int16:
    case Kind::Number:
        break;
    }
    bool ok = false;
    double number = 0;
    if (isText)
        number = value.toString().trimmed().toInt(&ok);
    else if (isNumber(value))
        number = value.toDouble(&ok);
    if (!ok || !std::isfinite(number) || number != std::floor(number) || std::abs(number) > 2147483647.0)
        return std::nullopt;
    const qint32 whole = qint32(number);
    if (!key.Accepts(whole)) {
        *why = QStringLiteral("过滤条件“%1”的值 %2 不在取值之内，应为%3").arg(key.name).arg(whole).arg(expected(key));
        return std::nullopt;
    }
    if (key.kind == Kind::Int16)
        return QVariant::fromValue(qint16(whole));
    if (key.kind == Kind::Number)
        return double(whole);
    return whole;
}

} // namespace

QString Nearest(const QString &word, const QStringList &candidates)
{
    QString best;
    qsizetype bestDistance = std::min<qsizetype>(2, word.size() / 2);
    for (const QString &name : candidates) {
        if (name.compare(word, Qt::CaseInsensitive) == 0)
            return name;
        const qsizetype d = editDistance(name.toLower(), word.toLower());
        if (d <= bestDistance) {
            bestDistance = d - 1;   // only a strictly nearer name replaces it
            best = name;
        }
    }
    return best;
}

QString NearestKey(qint32 rptId, const QString &key)
{
    QStringList names;
    for (const Key &k : ReportKeys::KeysOf(rptId) + ReportKeys::TitleOnlyKeys())
        names << k.name;
    return Nearest(key, names);
}

QStringList CheckAndConvert(qint32 rptId, Dictionary &filter)
{
    QStringList sentences;
    for (const Problem &p : Check(rptId, filter))
        if (!p.sentence.isEmpty())
            sentences << p.sentence;
    return sentences;
}

QString KindText(Problem::Kind kind)
{
    switch (kind) {
    case Problem::Kind::UnknownKey: return QStringLiteral("unknown-key");
    case Problem::Kind::WrongValue: return QStringLiteral("wrong-value");
    case Problem::Kind::Missing: return QStringLiteral("missing");
    case Problem::Kind::Reversed: return QStringLiteral("reversed");
    }
    return {};
}

QList<Problem> Check(qint32 rptId, Dictionary &filter)
{
    using K = Problem::Kind;
    QList<Problem> problems;
    QStringList refused;   // values left as written: no range check on them
    for (const QString &name : QStringList(filter.Keys())) {
        // Written by the facade; a filter saved from a run's JSON output carries them.
        if (name == u"RptID" || name == u"OK")
            continue;
        const Key *key = ReportKeys::Find(rptId, name);
        if (!key) {
            const QString nearest = NearestKey(rptId, name);
            problems << Problem{K::UnknownKey, name, {},
                                nearest.isEmpty()
                                    ? QStringLiteral("报表 %1 没有过滤条件“%2”").arg(rptId).arg(name)
                                    : QStringLiteral("报表 %1 没有过滤条件“%2”，是不是“%3”？").arg(rptId).arg(name, nearest)};
            continue;
        }
        const QVariant value = filter.Value(name);
        if (isEmptyValue(value)) {
            if (!key->IsWholeNumber())
                filter.SetValue(name, QString());
            continue;
        }
        QString why;
        if (const auto v = converted(*key, value, &why))
            filter.SetValue(name, *v);
        else {
            problems << Problem{K::WrongValue, name, {}, why.isEmpty() ? wrongKind(name, value, expected(*key)) : why};
            refused << name;
        }
    }

    QStringList missing;
    for (const Key &key : ReportKeys::KeysOf(rptId))
        if (key.required && isEmptyValue(filter.Value(key.name)))
            missing << key.name;
    // One sentence for all of them, the first problem naming it.
    for (const QString &name : missing)
        problems << Problem{K::Missing, name, {},
                            name == missing.first() ? QStringLiteral("缺少必填的过滤条件：%1").arg(missing.join(QStringLiteral("、")))
                                                    : QString()};

    for (const Key &key : ReportKeys::KeysOf(rptId) + ReportKeys::TitleOnlyKeys()) {
        const QString end = ReportKeys::RangeEnd(rptId, key.name);
        if (end.isEmpty() || refused.contains(key.name) || refused.contains(end))
            continue;
        refused << key.name;   // a report key of a title key's name is checked once
        const QVariant from = filter.Value(key.name), to = filter.Value(end);
        // Dates are canonical by now, so their texts compare as the moments do.
        if (from.typeId() == QMetaType::QString && to.typeId() == QMetaType::QString && !isEmptyValue(from)
            && !isEmptyValue(to) && from.toString() > to.toString())
            problems << Problem{K::Reversed, key.name, end,
                                QStringLiteral("范围颠倒：起始 %1%2%3截止 %4%5")
                                    .arg(key.name, shown(from),
                                         key.kind == Kind::DateTime ? QStringLiteral("晚于") : QStringLiteral("大于"), end, shown(to))};
    }
    return problems;
}

} // namespace FilterCheck
