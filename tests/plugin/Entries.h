#pragma once

#include "Dictionary.h"

#include <QList>
#include <QMetaType>
#include <QPair>

// Key/value rows for data-driven tests, in the order they are stored.
using Entries = QList<QPair<QString, QVariant>>;
Q_DECLARE_METATYPE(Entries)

inline DictionaryPtr MakeDictionary(const Entries &entries)
{
    DictionaryPtr d = Dictionary::Create();
    for (const auto &[key, value] : entries)
        d->SetValue(key, value);
    return d;
}
