#pragma once

#include <QString>
#include <QVariant>

#include <optional>

// The login's settings, read from the host on every call; nothing is cached.
//
// The context values come from the process-wide context dictionary that the host publishes
// under DesktopProps::ContextPropName(). The plug-in borrows that object for one read: it never
// takes or releases a reference to it. Failures (no context published, a value that does not
// convert to the getter's type) throw VelError to the caller.

// The value stored under `key`; `defaultValue` (the empty Variant when not given) when the
// context has no such key.
QVariant GetContextValue(const QString &key, const std::optional<QVariant> &defaultValue = std::nullopt);

qint32 GetAppType();        // "AppType", 2 when absent
bool GetIsBranch();         // "ISBranch", false when absent
bool GetSVCardShareType();  // "SVCardShareType", false when absent
QString GetBranchNum();     // "BranchNum", "" when absent

// Whether report 10902 shows the branch of sale beside its grouping: at a site that is not a
// branch, where cards are shared between branches. The data component sums by the same rule.
bool ShowsBranchOfSale();

// A property of the shared-property store "VelPropsMgr.ShareProps" for this process. The store
// is created for this one read and released afterwards.
QVariant GetShareProp(const QString &name);
// The login's "PropsString", handed on to the server data component without being read.
QString GetPropsString();
// Whether the host lets the user stop a report's query from the progress window (the shared
// property "AllowCancel", a truth value; False when the host set none).
bool GetAllowCancel();
