#pragma once

#include "BranchScope.h"
#include "ServerData.h"

#include <QObject>
#include <QVariant>

#include "Database.h"

#include <mutex>

// "VelMVipRpt.GLData": the rows of the six reports and the lookup lists, read with real SQL
// from the database the connection text names, within the scope it was made with.
class GLData : public QObject, public IServerData
{
    Q_OBJECT
    Q_INTERFACES(IServerData)
    Q_PROPERTY(qint32 RptID READ RptID WRITE SetRptID)

public:
    explicit GLData(BranchScope scope, QObject *parent = nullptr);

    void SetRptID(qint32 rptId) override { m_rptId = rptId; }
    qint32 RptID() const override { return m_rptId; }

    QVariant GetRptData(const QString &propsString, DictionaryPtr &filter) override;
    void Interrupt() override;
    // How many times a run was interrupted in this process (the user's 取消): a host compares
    // the count before and after a run to tell a cancelled run from a failed one.
    static quint64 InterruptCount();
    RecordsetPtr GetLookupList(const QString &propsString, qint32 lookupType, const QString &condition,
                               const QString &searchText, qint32 limit = 500) override;

    // The same members for hosts that call by name with Variants.
    Q_INVOKABLE QVariant GetRptData(const QString &propsString, const QVariant &filter);
    Q_INVOKABLE QVariant LookupList(const QString &propsString, qint32 lookupType, const QString &condition,
                                    const QString &searchText, qint32 limit = 500);

private:
    const BranchScope m_scope;
    qint32 m_rptId = 0;
    std::mutex m_lock;                       // guards the two below against Interrupt()
    Database::Request *m_request = nullptr;  // the running GetRptData's
    bool m_interrupted = false;
};
