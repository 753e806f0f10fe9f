#pragma once

#include "Types.h"

#include <QString>

// Every user-visible text of the report layer and the facade passes through here, so that one
// place could translate them. Returns its argument unchanged.
QString GetMsgText(const QString &text);

// The header that AddColumn appends to: one module-wide reference, so one report run at a time.
// Passing none clears it.
void SetHeaderTarget(const VectorPtr &target);
VectorPtr CurrentHeaderTarget();

// Appends a column entry with the keys, in order: "FColCaption", "FHeadSecond", "FColType",
// "FColName", "FVisible" (qint16 1/0), "FWidth" (double), "FShowTime" (bool). Without a target a
// new Vector is created and becomes the target.
void AddColumn(const QString &caption, const QString &secondCaption, const QString &colType,
               const QString &fieldName, bool visible, double width, bool showTime);
