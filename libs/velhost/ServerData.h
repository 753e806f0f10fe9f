#pragma once

#include "velhost_export.h"

#include "Types.h"

#include <QObject>
#include <QString>

// The server data component ("VelMVipRpt.GLData"): runs a report's query and lists base data
// for lookups. Failures are thrown as VelError with a text fit for the user (never a password).
class VELHOST_EXPORT IServerData
{
public:
    virtual ~IServerData() = default;

    virtual void SetRptID(qint32 rptId) = 0;
    virtual qint32 RptID() const = 0;

    // Rows of the report RptID for the filter. Returns a Variant holding a RecordsetPtr whose
    // fields are the report's "FColName"s plus "FRowKind". The filter may be replaced.
    virtual QVariant GetRptData(const QString &propsString, DictionaryPtr &filter) = 0;

    // Stops the GetRptData running on another thread, or the next one to start: it then fails
    // with Vel::Cancelled() ("已取消") and leaves the session usable. Callable from any thread; a component
    // that cannot stop a request lets it finish.
    virtual void Interrupt() {}

    // Base data for a lookup list: fields "FNumber" (code) and "FName" (name), ordered by code.
    // `condition` is one of the fixed conditions the filter dialogs pass; `searchText` matches
    // code or name by "contains" and is always bound. At most `limit` rows.
    virtual RecordsetPtr GetLookupList(const QString &propsString, qint32 lookupType,
                                       const QString &condition, const QString &searchText,
                                       qint32 limit = 500) = 0;
};

#define IServerData_iid "com.velvip.IServerData/1.0"
Q_DECLARE_INTERFACE(IServerData, IServerData_iid)

// The fixed conditions the filter dialogs pass to GetLookupList.
namespace FilterText {
inline constexpr const char *BranchHeadOnly = " x2.FParentID=0 ";
inline constexpr const char *BranchHeadNoTrade1 = " x2.FParentID=0 and x2.Ftradetype<>1";
inline constexpr const char *CardNotDeleted = " FDeleted=0 ";
} // namespace FilterText

// Lookup types of the base data the panel lists.
namespace LookupKind {
enum : qint32 { Customer = 1, Item = 4, Branch = 5, Pos = 47, Cashier = 49, Card = 50, CardType = 51, Brand = 713 };
}

namespace Vel {
inline constexpr const char *ServerDataProgId = "VelMVipRpt.GLData";
inline constexpr const char *SharePropsProgId = "VelPropsMgr.ShareProps";
inline constexpr const char *FilterPanelProgId = "Vel_GRFC.ReportFilter";
} // namespace Vel
