#include "Dictionary.h"
#include "Recordset.h"
#include "Vector.h"

namespace Vel {

DictionaryPtr AsDictionary(const QVariant &v)
{
    return v.metaType() == QMetaType::fromType<DictionaryPtr>() ? v.value<DictionaryPtr>() : nullptr;
}

VectorPtr AsVector(const QVariant &v)
{
    return v.metaType() == QMetaType::fromType<VectorPtr>() ? v.value<VectorPtr>() : nullptr;
}

RecordsetPtr AsRecordset(const QVariant &v)
{
    return v.metaType() == QMetaType::fromType<RecordsetPtr>() ? v.value<RecordsetPtr>() : nullptr;
}

bool IsObject(const QVariant &v)
{
    const QMetaType t = v.metaType();
    return t == QMetaType::fromType<DictionaryPtr>() || t == QMetaType::fromType<VectorPtr>()
        || t == QMetaType::fromType<RecordsetPtr>();
}

} // namespace Vel

QVariant Dictionary::Value(const QString &key) const
{
    return m_values.value(key);
}

void Dictionary::SetValue(const QString &key, const QVariant &value)
{
    auto it = m_values.find(key);
    if (it == m_values.end()) {
        m_keys.append(key);
        m_values.insert(key, value);
    } else {
        *it = value;
    }
}

QVariant Dictionary::GetValue(const QString &key, const QVariant &defaultValue) const
{
    auto it = m_values.constFind(key);
    return it == m_values.constEnd() ? defaultValue : *it;
}

bool Dictionary::Remove(const QString &key)
{
    if (!m_values.remove(key))
        return false;
    m_keys.removeOne(key);
    return true;
}

void Dictionary::RemoveAll()
{
    m_keys.clear();
    m_values.clear();
}

qint32 Vector::Add(const QVariant &item)
{
    m_items.append(item);
    return qint32(m_items.size() - 1);
}
