#include "ReportSession.h"

#include "PluginLoader.h"
#include "ReportApplication.h"

#include "ComponentRegistry.h"
#include "ConnectionText.h"
#include "DemoChain.h"
#include "Dictionary.h"
#include "HostKit.h"
#include "facade/Catalog.h"
#include "Recordset.h"
#include "ReportFilterPanel.h"
#include "ServerComponents.h"
#include "ServerData.h"
#include "VelError.h"

#include <QCoreApplication>

namespace ReportSession {

void SetApplicationIdentity()
{
    QCoreApplication::setOrganizationName(QStringLiteral("VelVipRpt"));
    QCoreApplication::setApplicationName(QStringLiteral("VelVipRpt"));
}

QList<qint32> ReportIds()
{
    return VelVipRpt::ReportIds();
}

QString ReportIdsText()
{
    QStringList runs;
    const QList<qint32> ids = ReportIds();
    for (qsizetype i = 0; i < ids.size();) {
        qsizetype j = i;
        while (j + 1 < ids.size() && ids[j + 1] == ids[j] + 1)
            ++j;
        runs << (j == i ? QString::number(ids[i]) : QStringLiteral("%1 至 %2").arg(ids[i]).arg(ids[j]));
        i = j + 1;
    }
    return runs.join(QStringLiteral("、"));
}

QString ReportName(qint32 rptId)
{
    const VelVipRpt::ReportEntry *report = VelVipRpt::FindReport(rptId);
    return report ? QString::fromUtf8(report->name) : QString::number(rptId);
}

DictionaryPtr SampleFilter(qint32 rptId)
{
    auto filter = Dictionary::Create();
    const QString begin = QStringLiteral("2024-01-01 00:00:00");
    const QString end = QStringLiteral("2024-01-31 23:59:59");
    switch (rptId) {
    case 10901:
        filter->SetValue(QStringLiteral("ShowSumOnly"), QVariant::fromValue<qint16>(0));
        filter->SetValue(QStringLiteral("ShowVipDo"), QVariant::fromValue<qint16>(1));
        [[fallthrough]];
    case 10908:
        filter->SetValue(QStringLiteral("Year"), qint32(2024));
        filter->SetValue(QStringLiteral("Month"), 1.0);
        break;
    case 10911:
        filter->SetValue(QStringLiteral("Year"), qint32(2024));
        filter->SetValue(QStringLiteral("Quarter"), qint32(1));
        break;
    case 10909:
        filter->SetValue(QStringLiteral("EDate"), end);
        break;
    case 10910:
    case 10902:
    case 10903:
    case 10904:
    case 10905:
        filter->SetValue(QStringLiteral("BDate"), begin);
        filter->SetValue(QStringLiteral("EDate"), end);
        if (rptId != 10903) {
            filter->SetValue(QStringLiteral("GroupBy"), qint32(rptId == 10902 ? 1 : 0));
            filter->SetValue(QStringLiteral("SumOnly"), QVariant::fromValue<qint16>(0));
        }
        break;
    default:
        break;
    }
    return filter;
}

void RegisterComponents()
{
    static const bool registered = [] {
        RegisterHostKitComponents();
        RegisterServerComponents();
        RegisterFilterPanelComponent();
        return true;
    }();
    Q_UNUSED(registered);
    PluginLoader::Load();
}

QVariant ContextValue(const QString &key, const QVariant &value)
{
    const bool isText = value.metaType().id() == QMetaType::QString;
    const QString text = value.toString().trimmed();
    if (key == QLatin1String("AppType")) {
        bool ok = true;
        const qint32 n = isText ? text.toInt(&ok) : value.toInt(&ok);
        if (!ok)
            throw VelError(QStringLiteral("AppType 应为整数，而不是“%1”").arg(text));
        return n;
    }
    if (key == QLatin1String("ISBranch") || key == QLatin1String("SVCardShareType")) {
        if (!isText)
            return value.toBool();
        const QString lower = text.toLower();
        if (lower == QLatin1String("1") || lower == QLatin1String("true") || lower == QLatin1String("-1")
            || lower == QLatin1String("yes"))
            return true;
        if (lower == QLatin1String("0") || lower == QLatin1String("false") || lower == QLatin1String("no"))
            return false;
        throw VelError(QStringLiteral("%1 应为 0 或 1，而不是“%2”").arg(key, text));
    }
    return isText ? QVariant(text) : value;
}

void PublishContext(const QVariantMap &context)
{
    HostContext::Clear();
    for (auto it = context.constBegin(); it != context.constEnd(); ++it)
        HostContext::SetValue(it.key(), ContextValue(it.key(), it.value()));
    HostContext::Publish();
}

QVariantMap DefaultContext()
{
    return {{QStringLiteral("AppType"), 2},
            {QStringLiteral("ISBranch"), false},
            {QStringLiteral("SVCardShareType"), true},
            {QStringLiteral("BranchNum"), QString()}};
}

void SetPropsString(const QString &propsString)
{
    ShareProps::SetHostProperty(QStringLiteral("PropsString"), propsString);
}

QString PropsString()
{
    qint32 process = qint32(QCoreApplication::applicationPid());
    QString key = QStringLiteral("PropsString");
    return ShareProps().GetProperty(process, key).toString();
}

QString DefaultPropsString(const std::function<void(QString)> &progress)
{
    return DemoChain::EnsureDefaultDatabase(progress);
}

QString MaskedPropsString(const QString &propsString)
{
    return ConnectionText::Parse(propsString).Masked();
}

namespace {

// The branches the filter dialogs list whose number or name contains `text`.
RecordsetPtr branchesMatching(const QString &text)
{
    std::unique_ptr<QObject> owner;
    auto *data = ComponentRegistry::Instance().CreateAs<IServerData>(QLatin1String(Vel::ServerDataProgId), owner);
    const bool shared = HostContext::Context()->Value(QStringLiteral("SVCardShareType")).toBool();
    const QString condition = QLatin1String(shared ? FilterText::BranchHeadOnly : FilterText::BranchHeadNoTrade1);
    return data->GetLookupList(PropsString(), LookupKind::Branch, condition, text);
}

} // namespace

QString BranchNumber(const QString &name)
{
    const RecordsetPtr rows = branchesMatching(name);
    const int number = rows ? rows->FieldIndex(QStringLiteral("FNumber")) : -1;
    const int fname = rows ? rows->FieldIndex(QStringLiteral("FName")) : -1;
    QString found;
    for (qint64 r = 0; number >= 0 && fname >= 0 && r < rows->RecordCount(); ++r) {
        if (rows->TextAt(r, fname).trimmed() != name)
            continue;
        if (!found.isEmpty())
            return {};
        found = rows->TextAt(r, number).trimmed();
    }
    return found;
}

QString BranchName(const QString &number)
{
    const RecordsetPtr rows = branchesMatching(number);
    const int fnumber = rows ? rows->FieldIndex(QStringLiteral("FNumber")) : -1;
    const int fname = rows ? rows->FieldIndex(QStringLiteral("FName")) : -1;
    for (qint64 r = 0; fnumber >= 0 && fname >= 0 && r < rows->RecordCount(); ++r)
        if (rows->TextAt(r, fnumber).trimmed() == number)
            return rows->TextAt(r, fname).trimmed();
    return {};
}

ReportOutput Collect(const ReportApplication &app)
{
    ReportOutput out;
    out.result = app.Result();
    out.property = app.Property();
    out.filter = app.Filter();
    out.header = app.Header();
    out.title = app.Title();
    out.rs = app.rs();
    return out;
}

} // namespace ReportSession
