#include "Checks.h"

#include <QRegularExpression>
#include <QTimeZone>

namespace DeliveryCheck {

QString Address(const QString &field, const QString &value)
{
    // RFC 5321 "atext" and dots on the left, a host name on the right; 254 characters at most.
    static const QRegularExpression address(
        QStringLiteral(R"(^[A-Za-z0-9!#$%&'*+/=?^_`{|}~.-]{1,64}@[A-Za-z0-9](?:[A-Za-z0-9.-]{0,251}[A-Za-z0-9])?$)"));
    if (value.size() <= 254 && address.match(value).hasMatch() && !value.contains(QStringLiteral("..")))
        return {};
    return QStringLiteral("%1“%2”不是电子邮件地址（应为 name@example.com 这样的地址，不含空格、尖括号或换行）")
        .arg(field, value.left(80).replace(u'\r', u' ').replace(u'\n', u' '));
}

QString Branch(const QString &field, const QString &value)
{
    static const QRegularExpression branch(QStringLiteral("^[A-Za-z0-9_-]{1,16}$"));
    if (branch.match(value).hasMatch())
        return {};
    return QStringLiteral("%1“%2”不是分店编号（1 到 16 个字母、数字、- 或 _）")
        .arg(field, value.left(40).replace(u'\r', u' ').replace(u'\n', u' '));
}

QString Zone(const QString &field, const QString &value)
{
    // Names of the zone database only: an offset written as a name ("UTC+8") reads the wrong
    // way round in some systems, and an empty one means each process's own zone.
    static const QRegularExpression name(QStringLiteral("^[A-Za-z][A-Za-z0-9_+-]*(/[A-Za-z0-9_+-]+)*$"));
    const bool offset = value.startsWith(QStringLiteral("UTC")) && value != u"UTC";
    if (name.match(value).hasMatch() && !offset && QTimeZone::isTimeZoneIdAvailable(value.toUtf8()))
        return {};
    return QStringLiteral("%1“%2”不是时区名称，请写成 Asia/Shanghai 或 UTC 这样的名称")
        .arg(field, value.left(60).replace(u'\r', u' ').replace(u'\n', u' '));
}

} // namespace DeliveryCheck
