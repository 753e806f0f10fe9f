#pragma once

#include "Types.h"

#include <QByteArray>

// A JSON object as a filter dictionary: whole numbers that fit 32 bits become qint32, other
// numbers double, booleans and text as they are, null the empty value, objects and arrays
// nested dictionaries and vectors. Throws VelError for text that is not a JSON object.
DictionaryPtr FilterFromJson(const QByteArray &json);
