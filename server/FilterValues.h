#pragma once

#include "BranchScope.h"
#include "Types.h"
#include "FilterRules.h"

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QVariantList>

#include <optional>

class DbDriver;

// Typed reads of a report filter. Wrong kinds of values throw VelError naming the key.
class FilterValues
{
public:
    explicit FilterValues(const Dictionary *filter) : m_filter(filter) {}

    static constexpr int MaxTextLength = FilterRules::MaxTextLength;

    // Text of a key, trimmed; empty when absent. Numbers are taken as their text.
    QString Text(const QString &key) const;
    // A wall-clock date-time from text or a date value (FilterRules::DateValue); nothing when
    // absent or empty.
    std::optional<QDateTime> DateTime(const QString &key) const;
    // A whole number in [min, max] from a number, a Boolean or numeric text; `fallback` when
    // absent or empty (no fallback: the key is required).
    qint32 Int(const QString &key, qint32 min, qint32 max, std::optional<qint32> fallback) const;
    bool Switch(const QString &key) const { return Int(key, 0, 1, 0) == 1; }

    // "yyyy-MM-dd HH:mm:ss", the form date-times are compared in; throws for an invalid one.
    static QString SqlDateTime(const QDateTime &dt);

private:
    QVariant raw(const QString &key) const;
    const Dictionary *m_filter;
};

// The WHERE terms of a query with their bound values, in order.
class SqlWhere
{
public:
    explicit SqlWhere(const DbDriver &driver) : m_driver(driver) {}

    void Add(const QString &term, const QVariantList &params = {});
    // from <= expr <= to; an empty side is no limit.
    void Range(const QString &expr, const QString &from, const QString &to);
    void Equals(const QString &expr, const QString &value);    // when value is not empty
    void Contains(const QString &expr, const QString &text) { ContainsAny({expr}, text); }
    // Any of the expressions contains the text (when it is not empty).
    void ContainsAny(const QStringList &exprs, const QString &text);
    void DateFrom(const QString &expr, const std::optional<QDateTime> &from);    // >=
    void DateTo(const QString &expr, const std::optional<QDateTime> &to, bool inclusive);
    // A branch scope keeps to rows whose branch number `expr` is the scope's; head office adds nothing.
    void InScope(const QString &expr, const BranchScope &scope);
    // A branch scope keeps to the cards (`card`: a member_card alias) the branch issued or that
    // have a movement there, found through the balance ledger's card/branch pairs when the chain
    // has it (`ledger`, one index seek a card); head office adds nothing.
    void CardInScope(const QString &card, const BranchScope &scope, bool ledger);

    // "WHERE a AND b ..." or empty.
    QString Sql() const;
    const QVariantList &Params() const { return m_params; }

private:
    const DbDriver &m_driver;
    QStringList m_terms;
    QVariantList m_params;
};
