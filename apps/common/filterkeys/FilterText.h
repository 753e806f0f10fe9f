#pragma once

#include "Types.h"

#include <QByteArray>
#include <QString>

// Filters as people write them outside a dialog: a JSON file, `KEY=VALUE` pairs.

// A JSON object as a filter dictionary: whole numbers that fit 32 bits become qint32, other
// numbers double, booleans and text as they are, null the empty value, objects and arrays
// nested dictionaries and vectors. Throws VelError for text that is not a JSON object.
DictionaryPtr FilterFromJson(const QByteArray &json);

// Splits "KEY=VALUE" at the first `=`; the key is trimmed and must not be empty.
bool SplitKeyValue(const QString &pair, QString *key, QString *value);
