#include "ValueFormat.h"

#include <QDateTime>
#include <QLocale>

#include <cmath>

ColumnKind ColumnKindFromType(const QString &colType)
{
    switch (colType.trimmed().toInt()) {
    case 0: return colType.trimmed() == QLatin1String("0") ? ColumnKind::Date : ColumnKind::Text;
    case 2: return ColumnKind::Quantity;
    case 4: return ColumnKind::UnitPrice;
    case 6: return ColumnKind::Amount;
    default: return ColumnKind::Text;
    }
}

bool IsNumericKind(ColumnKind kind)
{
    return kind == ColumnKind::Quantity || kind == ColumnKind::UnitPrice || kind == ColumnKind::Amount;
}

namespace Present {

namespace {

bool isNumberType(const QVariant &v)
{
    switch (v.metaType().id()) {
    case QMetaType::Int: case QMetaType::UInt: case QMetaType::LongLong: case QMetaType::ULongLong:
    case QMetaType::Short: case QMetaType::UShort: case QMetaType::Double: case QMetaType::Float:
    case QMetaType::Long: case QMetaType::ULong:
        return true;
    default:
        return false;
    }
}

// Fixed decimals with '.'; grouped with ',' in thousands when asked. -0.00 shows as 0.00.
QString fixed(double v, int decimals, bool grouped)
{
    const double scale = std::pow(10.0, decimals);
    double rounded = std::round(v * scale) / scale;
    if (rounded == 0)
        rounded = 0;   // drops the sign of a negative zero
    QString text = QString::number(rounded, 'f', decimals);
    if (!grouped)
        return text;
    const bool negative = text.startsWith(QLatin1Char('-'));
    const qsizetype start = negative ? 1 : 0;
    qsizetype dot = text.indexOf(QLatin1Char('.'));
    if (dot < 0)
        dot = text.size();
    for (qsizetype pos = dot - 3; pos > start; pos -= 3)
        text.insert(pos, QLatin1Char(','));
    return text;
}

QString trimZeros(QString text)
{
    if (!text.contains(QLatin1Char('.')))
        return text;
    while (text.endsWith(QLatin1Char('0')))
        text.chop(1);
    if (text.endsWith(QLatin1Char('.')))
        text.chop(1);
    return text;
}

QString plainNumber(double v)
{
    // Whole numbers without a decimal part; others as the shortest exact text.
    if (std::isfinite(v) && v == std::trunc(v) && std::fabs(v) < 1e15)
        return QString::number(qint64(v));
    return QString::number(v, 'g', 15);
}

QDateTime asDateTime(const QVariant &value)
{
    switch (value.metaType().id()) {
    case QMetaType::QDateTime: return value.toDateTime();
    case QMetaType::QDate: return value.toDate().startOfDay();
    case QMetaType::QString: {
        const QString text = value.toString().trimmed();
        for (const char *fmt : {"yyyy-MM-dd HH:mm:ss", "yyyy-MM-ddTHH:mm:ss", "yyyy-MM-dd HH:mm", "yyyy-MM-dd"}) {
            const QDateTime dt = QDateTime::fromString(text, QLatin1String(fmt));
            if (dt.isValid())
                return dt;
        }
        return {};
    }
    default:
        return {};
    }
}

} // namespace

bool NumericValue(const QVariant &value, double *number)
{
    if (isNumberType(value)) {
        *number = value.toDouble();
        return true;
    }
    if (value.metaType().id() == QMetaType::QString) {
        bool ok = false;
        const double v = value.toString().trimmed().toDouble(&ok);
        if (ok)
            *number = v;
        return ok;
    }
    return false;
}

QString DateTimeText(const QVariant &value)
{
    const QDateTime dt = asDateTime(value);
    if (!dt.isValid())
        return value.toString();
    if (dt.time() == QTime(0, 0))
        return dt.toString(QStringLiteral("yyyy-MM-dd"));
    return dt.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

int DecimalsOf(ColumnKind kind)
{
    switch (kind) {
    case ColumnKind::Quantity: return 3;
    case ColumnKind::UnitPrice:
    case ColumnKind::Amount: return 2;
    default: return 0;
    }
}

QString FormatValue(const QVariant &value, ColumnKind kind, FormatStyle style)
{
    if (!value.isValid() || value.isNull())
        return {};
    switch (kind) {
    case ColumnKind::Date: {
        const QDateTime dt = asDateTime(value);
        return dt.isValid() ? dt.toString(QStringLiteral("yyyy-MM-dd")) : value.toString();
    }
    case ColumnKind::Quantity:
    case ColumnKind::UnitPrice:
    case ColumnKind::Amount: {
        double v = 0;
        if (!NumericValue(value, &v))
            return value.toString();
        if (kind == ColumnKind::Quantity)
            return trimZeros(fixed(v, 3, false));
        return fixed(v, 2, kind == ColumnKind::Amount && style == FormatStyle::Grid);
    }
    case ColumnKind::Text:
        break;
    }
    switch (value.metaType().id()) {
    case QMetaType::Bool: return value.toBool() ? QStringLiteral("是") : QStringLiteral("否");
    case QMetaType::Double:
    case QMetaType::Float: return plainNumber(value.toDouble());
    case QMetaType::QDateTime:
    case QMetaType::QDate: return DateTimeText(value);
    default: return value.toString();
    }
}

} // namespace Present
