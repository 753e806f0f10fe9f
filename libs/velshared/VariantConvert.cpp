#include "VariantConvert.h"

#include "Types.h"
#include "VelError.h"
#include "WallClock.h"

#include <QDateTime>

#include <cmath>
#include <limits>

namespace {

[[noreturn]] void mismatch(const QVariant &value, const char *target)
{
    throw VelError(QStringLiteral("Type mismatch: cannot convert a value of type %1 to %2")
                       .arg(QString::fromLatin1(value.typeName() ? value.typeName() : "empty"),
                            QString::fromLatin1(target)),
                   Vel::ErrTypeMismatch);
}

bool isNumericType(const QVariant &value)
{
    switch (value.metaType().id()) {
    case QMetaType::Int: case QMetaType::UInt: case QMetaType::LongLong: case QMetaType::ULongLong:
    case QMetaType::Short: case QMetaType::UShort: case QMetaType::Char: case QMetaType::SChar:
    case QMetaType::UChar: case QMetaType::Long: case QMetaType::ULong:
    case QMetaType::Double: case QMetaType::Float:
        return true;
    default:
        return false;
    }
}

template <class T>
T toWhole(const QVariant &value, const char *target)
{
    const double d = VariantConvert::ToDouble(value);
    const double r = std::nearbyint(d);   // round half to even, as the host's conversions do
    if (!(r >= double(std::numeric_limits<T>::min()) && r <= double(std::numeric_limits<T>::max())))
        throw VelError(QStringLiteral("Overflow: %1 does not fit in %2").arg(d).arg(QString::fromLatin1(target)),
                       Vel::ErrOverflow);
    return T(r);
}

} // namespace

namespace VariantConvert {

double ToDouble(const QVariant &value)
{
    if (!value.isValid())
        return 0.0;
    if (value.metaType().id() == QMetaType::Bool)
        return value.toBool() ? 1.0 : 0.0;
    if (isNumericType(value))
        return value.toDouble();
    if (value.metaType().id() == QMetaType::QString) {
        bool ok = false;
        const double d = value.toString().trimmed().toDouble(&ok);
        if (ok)
            return d;
    }
    mismatch(value, "a number");
}

qint32 ToInt32(const QVariant &value) { return toWhole<qint32>(value, "a 32-bit integer"); }
qint16 ToInt16(const QVariant &value) { return toWhole<qint16>(value, "a 16-bit integer"); }

bool ToBool(const QVariant &value)
{
    if (!value.isValid())
        return false;
    if (value.metaType().id() == QMetaType::Bool)
        return value.toBool();
    if (isNumericType(value))
        return value.toDouble() != 0.0;
    if (value.metaType().id() == QMetaType::QString) {
        const QString text = value.toString().trimmed();
        if (text.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0)
            return true;
        if (text.compare(QLatin1String("false"), Qt::CaseInsensitive) == 0)
            return false;
        bool ok = false;
        const double d = text.toDouble(&ok);
        if (ok)
            return d != 0.0;
    }
    mismatch(value, "a truth value");
}

QString ToText(const QVariant &value)
{
    if (!value.isValid())
        return QString();
    if (Vel::IsObject(value))
        mismatch(value, "text");
    switch (value.metaType().id()) {
    case QMetaType::Bool:
        return value.toBool() ? QStringLiteral("True") : QStringLiteral("False");
    case QMetaType::QDateTime:
        return value.toDateTime().toString(QLatin1String(DateTimeFormat));
    case QMetaType::QDate:
        return value.toDate().toString(QStringLiteral("yyyy-MM-dd"));
    default:
        break;
    }
    if (!value.canConvert<QString>())
        mismatch(value, "text");
    return value.toString();
}

QDateTime ToDateTime(const QVariant &value)
{
    switch (value.metaType().id()) {
    case QMetaType::QDateTime:
        return WallClock::Of(value.toDateTime());
    case QMetaType::QDate:
        return WallClock::At(value.toDate());
    case QMetaType::QString:
        if (const auto dt = WallClock::Read(value.toString()))
            return *dt;
        break;
    default:
        break;
    }
    mismatch(value, "a date");
}

} // namespace VariantConvert
