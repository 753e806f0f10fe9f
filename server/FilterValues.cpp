#include "FilterValues.h"

#include "DbDriver.h"
#include "TextFold.h"
#include "Dictionary.h"
#include "VelError.h"
#include "FilterRules.h"
#include "WallClock.h"

#include <cmath>

namespace {

[[noreturn]] void wrongKind(const QString &key, const QVariant &v, const QString &expected)
{
    throw FilterRules::WrongValue(key, v, expected);
}

} // namespace

QVariant FilterValues::raw(const QString &key) const
{
    return m_filter ? m_filter->Value(key) : QVariant();
}

QString FilterValues::Text(const QString &key) const
{
    const QVariant v = raw(key);
    if (!v.isValid() || v.isNull())
        return QString();
    if (Vel::IsObject(v) || !v.canConvert<QString>())
        wrongKind(key, QString(), QStringLiteral("文本"));
    const QString text = v.toString().trimmed();
    if (const QString problem = FilterRules::TextProblem(key, text); !problem.isEmpty())
        throw VelError(problem, Vel::ErrTypeMismatch, QString(), Vel::ErrorKind::BadFilter);
    return text;
}

std::optional<QDateTime> FilterValues::DateTime(const QString &key) const
{
    return FilterRules::DateValue(key, raw(key));
}

qint32 FilterValues::Int(const QString &key, qint32 min, qint32 max, std::optional<qint32> fallback) const
{
    const QVariant v = raw(key);
    const bool empty = !v.isValid() || v.isNull()
        || (v.typeId() == QMetaType::QString && v.toString().trimmed().isEmpty());
    if (empty) {
        if (!fallback)
            throw FilterRules::Missing(key);
        return *fallback;
    }
    double number = 0;
    bool ok = false;
    if (v.typeId() == QMetaType::Bool) {
        number = v.toBool() ? 1 : 0;
        ok = true;
    } else if (v.typeId() == QMetaType::QString) {
        number = v.toString().trimmed().toDouble(&ok);
    } else if (!Vel::IsObject(v)) {
        number = v.toDouble(&ok);
    }
    const QString range = QStringLiteral("%1 到 %2 之间的整数").arg(min).arg(max);
    if (!ok || !std::isfinite(number) || number != std::floor(number) || number < min || number > max)
        wrongKind(key, v, range);
    return qint32(number);
}

QString FilterValues::SqlDateTime(const QDateTime &dt)
{
    // An unreadable bound must never reach SQL as "", which would lift it.
    if (!dt.isValid())
        throw VelError(QStringLiteral("日期条件无效"), Vel::ErrTypeMismatch, QString(), Vel::ErrorKind::BadFilter);
    return WallClock::Text(dt);
}

void SqlWhere::Add(const QString &term, const QVariantList &params)
{
    m_terms << term;
    m_params << params;
}

void SqlWhere::Range(const QString &expr, const QString &from, const QString &to)
{
    if (!from.isEmpty())
        Add(expr + QStringLiteral(" >= ?"), {from});
    if (!to.isEmpty())
        Add(expr + QStringLiteral(" <= ?"), {to});
}

void SqlWhere::Equals(const QString &expr, const QString &value)
{
    if (!value.isEmpty())
        Add(expr + QStringLiteral(" = ?"), {value});
}

void SqlWhere::ContainsAny(const QStringList &exprs, const QString &text)
{
    if (text.isEmpty())
        return;
    QString pattern = TextFold::Fold(text);
    pattern.replace(u'\\', QStringLiteral("\\\\")).replace(u'%', QStringLiteral("\\%")).replace(u'_', QStringLiteral("\\_"));
    pattern = u'%' + pattern + u'%';
    QStringList terms;
    QVariantList params;
    for (const QString &expr : exprs) {
        terms << QStringLiteral("%1 LIKE ? ESCAPE '\\'").arg(m_driver.FoldedText(expr));
        params << pattern;
    }
    Add(terms.size() == 1 ? terms.first() : u'(' + terms.join(QStringLiteral(" OR ")) + u')', params);
}

void SqlWhere::DateFrom(const QString &expr, const std::optional<QDateTime> &from)
{
    if (from)
        Add(expr + QStringLiteral(" >= ?"), {FilterValues::SqlDateTime(*from)});
}

void SqlWhere::DateTo(const QString &expr, const std::optional<QDateTime> &to, bool inclusive)
{
    if (to)
        Add(expr + (inclusive ? QStringLiteral(" <= ?") : QStringLiteral(" < ?")), {FilterValues::SqlDateTime(*to)});
}

void SqlWhere::InScope(const QString &expr, const BranchScope &scope)
{
    if (!scope.IsHeadOffice())
        Add(expr + QStringLiteral(" = ?"), {scope.Number()});
}

void SqlWhere::CardInScope(const QString &card, const BranchScope &scope, bool ledger)
{
    if (scope.IsHeadOffice())
        return;
    const QString branchId = QStringLiteral("(SELECT FID FROM branch WHERE FNumber = ?)");
    const QString moved = ledger ? QStringLiteral("SELECT 1 FROM card_balance_branch ip WHERE ip.FCardID = %1.FID "
                                                  "AND ip.FBranchID = %2")
                                 : QStringLiteral("SELECT 1 FROM card_movement im WHERE im.FCardID = %1.FID "
                                                  "AND im.FBranchID = %2");
    Add(QStringLiteral("(%1.FBranchID = %2 OR EXISTS (%3))").arg(card, branchId, moved.arg(card, branchId)),
        {scope.Number(), scope.Number()});
}

QString SqlWhere::Sql() const
{
    return m_terms.isEmpty() ? QString() : QStringLiteral(" WHERE ") + m_terms.join(QStringLiteral(" AND "));
}
