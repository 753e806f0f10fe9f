#pragma once

#include "velhost_export.h"

#include "Types.h"

#include <QList>

// The host's list: Variants in order of addition.
class VELHOST_EXPORT Vector
{
public:
    static VectorPtr Create() { return std::make_shared<Vector>(); }

    qint32 Count() const { return qint32(m_items.size()); }
    // Appends at the end; returns the new item's position.
    qint32 Add(const QVariant &item);
    qint32 Add(const DictionaryPtr &obj) { return Add(Vel::ToVariant(obj)); }
    QVariant Item(qint32 index) const { return index >= 0 && index < m_items.size() ? m_items.at(index) : QVariant(); }
    DictionaryPtr DictionaryAt(qint32 index) const { return Vel::AsDictionary(Item(index)); }
    const QList<QVariant> &Items() const { return m_items; }

private:
    QList<QVariant> m_items;
};
