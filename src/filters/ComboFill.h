#pragma once

#include <QList>
#include <QVariant>

class QComboBox;

// Drop-down lists whose entries depend on the application type.
//
// An entry of `table` is a list of three values: the code (stored as the item's data), the
// shown text, and the application-type mask. An entry is kept when every bit of the current
// application type is set in its mask. The item whose code equals `selectCode` is selected
// (the first one when several match), otherwise the first item; an empty list has no selection.
// Conversion failures of an entry throw VelError.
void FillCombo(QComboBox *combo, const QList<QVariantList> &table, qint32 selectCode = 0);

// The position of the first item whose data equals `code`, -1 when none does or the list is
// missing or empty.
qint16 FindComboItemData(const QComboBox *combo, qint32 code);
