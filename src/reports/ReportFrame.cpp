#include "ReportFrame.h"

#include "facade/Catalog.h"

#include "ReportLayout.h"
#include "progress/Bar.h"
#include "HostContextReader.h"
#include "reports/RptTitle.h"
#include "VariantConvert.h"

#include "ComponentRegistry.h"
#include "Dictionary.h"
#include "Recordset.h"
#include "ServerData.h"
#include "VelError.h"

#include <memory>
#include <new>

namespace {

// The run stopped for a reason that has no message (no filter, an unknown layout).
struct SilentFailure {};

template <class T>
T *require(T *object, const char *what)
{
    if (!object)
        throw VelError(QStringLiteral("Object variable not set: %1").arg(QString::fromLatin1(what)), Vel::ErrObjectNotSet);
    return object;
}

} // namespace

ReportFrame::ReportFrame(qint32 number, QObject *parent) : IQueryReport(parent), m_number(number) {}

ReportFrame::~ReportFrame()
{
    try {
        if (m_rs && m_rs->State() == 1)
            m_rs->Close();
    } catch (...) {
        // Nothing may leave a destructor.
    }
}

QVariant ReportFrame::FilterValue(const QString &key) const
{
    return require(m_filter.get(), "the report has no filter")->Value(key);
}

QString ReportFrame::GroupByText() const
{
    return VariantConvert::ToText(FilterValue(QStringLiteral("GroupBy")));
}

void ReportFrame::AddColumns(std::initializer_list<ColumnDef> columns)
{
    for (const ColumnDef &c : columns)
        AddColumn(QString::fromUtf8(c.caption), QString::fromUtf8(c.secondCaption), QString::fromLatin1(c.colType),
                  QString::fromLatin1(c.fieldName), c.visible, 0.0, false);
}

void ReportFrame::WriteEntries(Dictionary &property, std::initializer_list<std::pair<const char *, QVariant>> entries)
{
    for (const auto &[key, value] : entries)
        property.SetValue(QString::fromLatin1(key), value);
}

QString ReportFrame::CatalogName() const
{
    const VelVipRpt::ReportEntry *entry = VelVipRpt::FindReport(m_number);
    return entry ? QString::fromUtf8(entry->name) : QString();
}

void ReportFrame::WriteCommonProperties(Dictionary &property, const QString &name, qint16 rptProperty, bool longTime)
{
    WriteEntries(property, {
        {"Name", GetMsgText(name)},
        {"FrozenColumn", VariantConvert::Short(2)},
        {"DetailRptID", VariantConvert::Short(0)},
        {"HasDefaultFilterOption", true},
        {"RptProperty", VariantConvert::Short(rptProperty)},
    });
    if (longTime)
        property.SetValue(QStringLiteral("LongTime"), true);
}

QVariant ReportFrame::SetRptProperty(DictionaryPtr &m_Property)
{
    WriteProperties(*require(m_Property.get(), "no property dictionary"));
    return {};
}

void ReportFrame::showReadingMessage(Bar *bar)
{
    bar->HideProgBar();
    bar->SetMsg(GetMsgText(QStringLiteral("正在从服务器读取数据，请稍候...")));
}

QVariant ReportFrame::GetRptList(VectorPtr &m_header, Bar *m_ProgBar, RecordsetPtr &m_Rs, DictionaryPtr &m_Result)
{
    std::unique_ptr<QObject> serverOwner;
    QString failure;
    try {
        if (!m_filter)
            throw SilentFailure();
        SetHeaderTarget(m_header);
        if (!AppendColumns()) {
            SetHeaderTarget(nullptr);
            throw SilentFailure();
        }
        require(m_ProgBar, "no progress window");
        if (MessageBeforeServer())
            showReadingMessage(m_ProgBar);
        IServerData *server = ComponentRegistry::Instance().CreateAs<IServerData>(
            QString::fromLatin1(Vel::ServerDataProgId), serverOwner);
        if (!MessageBeforeServer())
            showReadingMessage(m_ProgBar);
        server->SetRptID(m_number);

        QVariant answer;
        try {
            BeforeRequest();
            const QString propsString = GetPropsString();
            if (GetAllowCancel()) {
                // The request runs beside the window, which meanwhile takes the user's cancel.
                const bool cancelled = m_ProgBar->RunCancellable(
                    [&] { answer = server->GetRptData(propsString, m_filter); },
                    [server] { server->Interrupt(); });
                if (cancelled)
                    throw Vel::Cancelled(QString::fromLatin1(Vel::ServerDataProgId));
            } else {
                answer = server->GetRptData(propsString, m_filter);
            }
        } catch (...) {
            AfterRequest();
            throw;
        }
        AfterRequest();

        RecordsetPtr rows = Vel::AsRecordset(answer);
        if (!rows)
            throw VelError(QStringLiteral("Type mismatch: the server data component answered without a record set"),
                           Vel::ErrTypeMismatch, QString::fromLatin1(Vel::ServerDataProgId));
        m_Rs = rows;

        SetHeaderTarget(nullptr);
        m_ProgBar->Unload();
        require(m_Result.get(), "no result dictionary")->SetValue(QStringLiteral("OK"), true);
        m_Result->SetValue(QStringLiteral("Error"), QString());
        return {};
    } catch (const SilentFailure &) {
        failure.clear();
    } catch (const VelError &e) {
        failure = e.Description();
    } catch (const std::bad_alloc &) {
        failure = QStringLiteral("内存不足，报表没有完成。");
    } catch (const std::exception &e) {
        failure = QString::fromLocal8Bit(e.what());
    }

    // The failure path itself is not guarded: a failure here reaches the caller.
    require(m_Result.get(), "no result dictionary")->SetValue(QStringLiteral("OK"), false);
    m_Result->SetValue(QStringLiteral("Error"), failure);
    require(m_ProgBar, "no progress window")->Unload();
    return {};
}

void ReportFrame::addPeriodTitleOption(DictionaryPtr &dctResult) const
{
    DictionaryPtr option = Dictionary::Create();
    const QString begin = VariantConvert::ToText(FilterValue(QStringLiteral("BDate")));
    const QString end = VariantConvert::ToText(FilterValue(QStringLiteral("EDate")));
    option->SetValue(QStringLiteral("ShowDateDiff"),
                     QStringLiteral("BDate,") + begin + QStringLiteral("|EDate,") + end);
    require(dctResult.get(), "no result dictionary")->SetValue(QStringLiteral("RptTitleObject"), option);
}

void ReportFrame::BuiltRptTitleObject(DictionaryPtr &dctResult, VectorPtr &dctTitle, DictionaryPtr &dctProperty)
{
    if (HasPeriodTitleOption())
        addPeriodTitleOption(dctResult);
    dctTitle = BuildRptTitle(m_filter, dctProperty);
    AppendTitleLines(dctTitle);
}
