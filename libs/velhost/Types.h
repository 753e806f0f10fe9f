#pragma once

#include "velhost_export.h"

#include <QMetaType>
#include <QVariant>
#include <memory>

// Shared, reference-counted host objects. "None" is nullptr; an object stored in a
// Variant is the shared pointer itself, never a copy.
class Dictionary;
class Vector;
class Recordset;

using DictionaryPtr = std::shared_ptr<Dictionary>;
using VectorPtr = std::shared_ptr<Vector>;
using RecordsetPtr = std::shared_ptr<Recordset>;

Q_DECLARE_METATYPE(DictionaryPtr)
Q_DECLARE_METATYPE(VectorPtr)
Q_DECLARE_METATYPE(RecordsetPtr)

namespace Vel {

inline QVariant ToVariant(const DictionaryPtr &p) { return QVariant::fromValue(p); }
inline QVariant ToVariant(const VectorPtr &p) { return QVariant::fromValue(p); }
inline QVariant ToVariant(const RecordsetPtr &p) { return QVariant::fromValue(p); }

// The object a Variant holds, or nullptr when it holds something else (or nothing).
VELHOST_EXPORT DictionaryPtr AsDictionary(const QVariant &v);
VELHOST_EXPORT VectorPtr AsVector(const QVariant &v);
VELHOST_EXPORT RecordsetPtr AsRecordset(const QVariant &v);

// True when the Variant holds one of the shared host objects.
VELHOST_EXPORT bool IsObject(const QVariant &v);

} // namespace Vel
