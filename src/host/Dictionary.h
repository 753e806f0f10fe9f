#pragma once

#include "Types.h"

#include <QHash>
#include <QString>
#include <QStringList>

// The host's keyed container: text keys (case-sensitive), Variant values, insertion order kept.
class Dictionary
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
    void SetValue(const QString &key, const char *text) { SetValue(key, QVariant(QString::fromUtf8(text))); }

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
