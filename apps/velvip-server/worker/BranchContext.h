#pragma once

#include <QString>
#include <QVariantMap>

// The context a report runs in for a user of `branch` (empty: head office): a branch sees only
// its own rows, as its desktop does. The API and scheduled deliveries use the same.
QVariantMap BranchContext(const QString &branch, bool sharedCards);
