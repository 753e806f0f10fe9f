#pragma once

#include "Types.h"

#include <QObject>
#include <QString>

// The server data component ("VelMVipRpt.GLData"): runs a report's query and lists base data
// for lookups. Failures are thrown as VelError with a text fit for the user (never a password).
class IServerData
{
public:
    virtual ~IServerData() = default;

    virtual void SetRptID(qint32 rptId) = 0;
    virtual qint32 RptID() const = 0;

    // Rows of the report RptID for the filter. Returns a Variant holding a RecordsetPtr whose
    // fields are the report's "FColName"s plus "FRowKind". The filter may be replaced.
    virtual QVariant GetRptData(const QString &propsString, DictionaryPtr &filter) = 0;

    // Stops the GetRptData running on another thread, or the next one to start: it then fails
    // with the text "已取消" and leaves the session usable. Callable from any thread; a component
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

namespace Vel {
inline constexpr const char *ServerDataProgId = "VelMVipRpt.GLData";
inline constexpr const char *SharePropsProgId = "VelPropsMgr.ShareProps";
inline constexpr const char *FilterPanelProgId = "Vel_GRFC.ReportFilter";
} // namespace Vel
