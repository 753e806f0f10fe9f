#include "SchemeValues.h"

#include <QDate>
#include <QDateTime>

namespace SchemeValues {

bool Encode(const QVariant &v, QString &type, QString &text)
{
    auto set = [&](const char *t, const QString &s) {
        type = QLatin1String(t);
        text = s;
        return true;
    };
    switch (v.typeId()) {
    case QMetaType::UnknownType: return set("empty", QString());
    case QMetaType::Short: return set("i16", QString::number(v.value<qint16>()));
    case QMetaType::Int: return set("i32", QString::number(v.toInt()));
    case QMetaType::LongLong: return set("i64", QString::number(v.toLongLong()));
    case QMetaType::Double: return set("double", QString::number(v.toDouble(), 'g', 17));
    case QMetaType::Bool: return set("bool", v.toBool() ? QStringLiteral("1") : QStringLiteral("0"));
    case QMetaType::QString: return set("text", v.toString());
    case QMetaType::QDateTime: return set("datetime", v.toDateTime().toString(Qt::ISODateWithMs));
    case QMetaType::QDate: return set("date", v.toDate().toString(Qt::ISODate));
    default: return false;
    }
}

QVariant Decode(const QString &type, const QString &text)
{
    if (type == QLatin1String("i16")) return QVariant::fromValue(qint16(text.toShort()));
    if (type == QLatin1String("i32")) return QVariant::fromValue(qint32(text.toInt()));
    if (type == QLatin1String("i64")) return QVariant::fromValue(qint64(text.toLongLong()));
    if (type == QLatin1String("double")) return QVariant(text.toDouble());
    if (type == QLatin1String("bool")) return QVariant(text == QLatin1String("1"));
    if (type == QLatin1String("text")) return QVariant(text);
    if (type == QLatin1String("datetime")) return QVariant(QDateTime::fromString(text, Qt::ISODateWithMs));
    if (type == QLatin1String("date")) return QVariant(QDate::fromString(text, Qt::ISODate));
    return QVariant();
}

} // namespace SchemeValues
