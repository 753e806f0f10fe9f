#include "ValueFormat.h"

#include <QDateTime>
#include <QLocale>

#include <algorithm>
#include <charconv>
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

// Fixed decimals with '.'; grouped with ',' in thousands when asked; trailing zeros dropped
// when asked. -0.00 shows as 0.00.
int fixedInto(double v, int decimals, bool grouped, bool trim, char16_t *out)
{
    static constexpr double scales[] = {1, 10, 100, 1000, 10000};
    const double scale = decimals >= 0 && decimals <= 4 ? scales[decimals] : std::pow(10.0, decimals);
    if (std::fabs(v) < 1e12 && decimals <= 4) {
        // The common case in integers: below 1e12 the double nearest the rounded value prints
        // as exactly these digits.
        const qint64 whole = qint64(std::round(v * scale));
        quint64 magnitude = quint64(whole < 0 ? -whole : whole);
        char16_t digits[kCellChars];
        int k = 0;
        for (int i = 0; i < decimals; ++i, magnitude /= 10)
            digits[k++] = char16_t(u'0' + magnitude % 10);
        const int fraction = k;
        int grouping = 0;
        do {
            if (grouped && grouping == 3) {
                digits[k++] = u',';
                grouping = 0;
            }
            digits[k++] = char16_t(u'0' + magnitude % 10);
            magnitude /= 10;
            ++grouping;
        } while (magnitude);
        int n = 0;
        if (whole < 0)
            out[n++] = u'-';
        while (k > fraction)
            out[n++] = digits[--k];
        int last = k;
        if (trim) {
            int drop = 0;
            while (drop < fraction && digits[drop] == u'0')
                ++drop;
            last = fraction - drop;
        }
        if (last > 0) {
            out[n++] = u'.';
            for (int i = fraction - 1; i >= fraction - last; --i)
                out[n++] = digits[i];
        }
        return n;
    }
    double rounded = std::round(v * scale) / scale;
    if (!std::isfinite(rounded) || std::fabs(rounded) >= 1e15)
        return -1;
    if (rounded == 0)
        rounded = 0;   // drops the sign of a negative zero
    char digits[kCellChars];
    const auto [end, ec] = std::to_chars(digits, digits + sizeof digits, rounded, std::chars_format::fixed, decimals);
    if (ec != std::errc())
        return -1;
    const char *p = digits;
    int n = 0;
    if (*p == '-')
        out[n++] = *p++;
    const char *dot = std::find(p, static_cast<const char *>(end), '.');
    for (const char *q = p; q < dot; ++q) {
        out[n++] = char16_t(*q);
        const long left = long(dot - q - 1);
        if (grouped && left > 0 && left % 3 == 0)
            out[n++] = u',';
    }
    for (const char *q = dot; q < end; ++q)
        out[n++] = char16_t(*q);
    if (trim && dot != end) {
        while (out[n - 1] == u'0')
            --n;
        if (out[n - 1] == u'.')
            --n;
    }
    return n;
}

// Days since 1970-01-01 → civil date (proleptic Gregorian).
void civilFromDays(qint64 z, qint64 &y, int &m, int &d)
{
    z += 719468;
    const qint64 era = (z >= 0 ? z : z - 146096) / 146097;
    const qint64 doe = z - era * 146097;
    const qint64 yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const qint64 doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const qint64 mp = (5 * doy + 2) / 153;
    d = int(doy - (153 * mp + 2) / 5 + 1);
    m = int(mp < 10 ? mp + 3 : mp - 9);
    y = yoe + era * 400 + (m <= 2);
}

void twoDigits(char16_t *out, int v)
{
    out[0] = char16_t(u'0' + v / 10);
    out[1] = char16_t(u'0' + v % 10);
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

int FormatNumber(double value, ColumnKind kind, FormatStyle style, char16_t *out)
{
    switch (kind) {
    case ColumnKind::Quantity: return fixedInto(value, 3, false, true, out);
    case ColumnKind::UnitPrice: return fixedInto(value, 2, false, false, out);
    case ColumnKind::Amount: return fixedInto(value, 2, style == FormatStyle::Grid, false, out);
    default: return -1;
    }
}

int FormatInteger(qint64 value, char16_t *out)
{
    char digits[24];
    const auto [end, ec] = std::to_chars(digits, digits + sizeof digits, value);
    int n = 0;
    for (const char *p = digits; p < end; ++p)
        out[n++] = char16_t(*p);
    return n;
}

int FormatWallClock(qint64 msecs, bool withTime, char16_t *out)
{
    constexpr qint64 day = 86400000;
    const qint64 days = msecs >= 0 ? msecs / day : -((-msecs + day - 1) / day);
    const qint64 ofDay = msecs - days * day;
    qint64 y = 0;
    int m = 0, d = 0;
    civilFromDays(days, y, m, d);
    if (y < 0 || y > 9999)
        return -1;
    int n = 0;
    for (int div = 1000; div > 0; div /= 10)
        out[n++] = char16_t(u'0' + (y / div) % 10);
    out[n++] = u'-';
    twoDigits(out + n, m);
    out[n + 2] = u'-';
    twoDigits(out + n + 3, d);
    n += 5;
    if (withTime) {
        const int secs = int(ofDay / 1000);
        out[n++] = u' ';
        twoDigits(out + n, secs / 3600);
        out[n + 2] = u':';
        twoDigits(out + n + 3, secs / 60 % 60);
        out[n + 5] = u':';
        twoDigits(out + n + 6, secs % 60);
        n += 8;
    }
    return n;
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
        char16_t buffer[kCellChars];
        const int n = FormatNumber(v, kind, style, buffer);
        if (n >= 0)
            return QString(reinterpret_cast<const QChar *>(buffer), n);
        return QString::number(v, 'f', DecimalsOf(kind));
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
