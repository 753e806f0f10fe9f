#pragma once

#include "velhost_export.h"

#include "Types.h"

#include <QHash>
#include <QString>
#include <QStringList>

#include <type_traits>

// The host's keyed container: text keys (case-sensitive), Variant values, insertion order kept.
class VELHOST_EXPORT Dictionary
{
public:
    static DictionaryPtr Create() { return std::make_shared<Dictionary>(); }

    // The stored value; an invalid (empty) Variant when the key is absent.
    QVariant Value(const QString &key) const;
    // Adds the key or replaces its value. A Variant holding a shared object stores the
    // object itself (by reference).
    void SetValue(const QString &key, const QVariant &value);
    void SetValue(const QString &key, const DictionaryPtr &obj) { SetValue(key, Vel::ToVariant(obj)); }
    void SetValue(const QString &key, const VectorPtr &obj) { SetValue(key, Vel::ToVariant(obj)); }
    void SetValue(const QString &key, const RecordsetPtr &obj) { SetValue(key, Vel::ToVariant(obj)); }
    // Numbers and truth values keep their own type. A literal 0 lands here as the number 0: with
    // an overload taking a character pointer, the null-pointer constant would pick that one.
    template <class T>
        requires std::is_arithmetic_v<T>
    void SetValue(const QString &key, T number) { SetValue(key, QVariant::fromValue(number)); }
    // UTF-8 text literals.
    template <qsizetype N>
    void SetValue(const QString &key, const char (&text)[N]) { SetValue(key, QVariant(QString::fromUtf8(text))); }

    bool Lookup(const QString &key) const { return m_values.contains(key); }
    QVariant GetValue(const QString &key, const QVariant &defaultValue) const;

    bool Remove(const QString &key);
    void RemoveAll();

    qint32 Count() const { return qint32(m_keys.size()); }
    // Keys in the order they were first stored.
    const QStringList &Keys() const { return m_keys; }

private:
    QStringList m_keys;
    QHash<QString, QVariant> m_values;
};
