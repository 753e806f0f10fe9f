#include "facade/Application.h"

#include "filters/ReportFilter.h"
#include "progress/Bar.h"
#include "reports/ReportLayout.h"
#include "reports/Reports.h"
#include "VariantConvert.h"

#include "Dictionary.h"
#include "ErrorReporter.h"
#include "Recordset.h"
#include "Vector.h"
#include "VelError.h"

#include <exception>
#include <functional>

namespace {

const QString OkKey = QStringLiteral("OK");
const QString ErrorKey = QStringLiteral("Error");

[[noreturn]] void objectNotSet(const char *what)
{
    throw VelError(QStringLiteral("Object variable not set: %1").arg(QString::fromLatin1(what)), Vel::ErrObjectNotSet,
                   QStringLiteral("Application"));
}

} // namespace

struct Application::Private
{
    DictionaryPtr filter;
    DictionaryPtr result = Dictionary::Create();
    DictionaryPtr property = Dictionary::Create();
    VectorPtr header;
    VectorPtr title;
    RecordsetPtr rs;
    qint32 rptId = 0;
    std::unique_ptr<IQueryReport> report;
    std::unique_ptr<Bar> progBar;

    // One Show runs one query: a re-activation of the window, during the query or after it,
    // finds the query taken.
    bool queryTaken = false;
    // A failure of the query handler, handed back to Refresh once the window has closed.
    std::exception_ptr queryFailure;
};

Application::Application(QObject *parent) : QObject(parent), d(std::make_unique<Private>())
{
    d->result->SetValue(OkKey, false);
    d->result->SetValue(ErrorKey, QString());
}

Application::~Application() = default;

void Application::SetExtFirter(const QString &)
{
}

QObject *Application::GetDetailReport(qint32)
{
    return nullptr;
}

DictionaryPtr Application::Filter() const { return d->filter; }
QVariant Application::FilterVariant() const { return Vel::ToVariant(d->filter); }
VectorPtr Application::Header() const { return d->header; }
DictionaryPtr Application::Property() const { return d->property; }
DictionaryPtr Application::Result() const { return d->result; }
qint32 Application::RptID() const { return d->rptId; }
void Application::SetRptID(qint32 id) { d->rptId = id; }
RecordsetPtr Application::rs() const { return d->rs; }
VectorPtr Application::Title() const { return d->title; }

void Application::SetFilter(const DictionaryPtr &filter)
{
    d->filter = filter;
    if (!d->result)
        objectNotSet("no result dictionary");
    if (filter) {
        d->result->SetValue(OkKey, true);
        d->result->SetValue(ErrorKey, QString());
    } else {
        d->result->SetValue(OkKey, false);
        d->result->SetValue(ErrorKey, GetMsgText(QStringLiteral("请选择过滤条件！")));
    }
}

void Application::SetFilterVariant(const QVariant &filter)
{
    if (!filter.isValid()) {
        SetFilter(nullptr);
        return;
    }
    if (filter.metaType() != QMetaType::fromType<DictionaryPtr>())
        throw VelError(QStringLiteral("类型不匹配：过滤条件必须是字典对象"), Vel::ErrTypeMismatch,
                       QStringLiteral("Application"));
    SetFilter(Vel::AsDictionary(filter));
}

void Application::CreateReport()
{
    if (auto report = NewReport(d->rptId))
        d->report = std::move(report);
    if (!d->filter)
        objectNotSet("no filter");
    d->filter->SetValue(QStringLiteral("RptID"), QVariant(d->rptId));
}

QVariant Application::GetReportData()
{
    try {
        const QVariant ok = d->result ? d->result->Value(OkKey) : QVariant();
        if (!ok.isValid() || !VariantConvert::ToBool(ok))
            return {};
    } catch (const VelError &) {
        return {};
    }

    try {
        CreateReport();
        if (!d->report)
            objectNotSet("no report for this report number");
        d->report->SetFilter(d->filter);
        d->report->SetRptProperty(d->property);
        Refresh();
    } catch (const std::exception &) {
        if (!d->result)
            d->result = Dictionary::Create();
        d->result->SetValue(OkKey, false);
        d->result->SetValue(ErrorKey, QString());
    }
    return {};
}

void Application::Refresh()
{
    if (!d->report)
        return;
    if (!d->progBar) {
        d->progBar = std::make_unique<Bar>();
        connect(d->progBar.get(), &Bar::Active, this, &Application::m_ProgBar_Active);
    }
    d->queryTaken = false;
    d->queryFailure = nullptr;
    d->progBar->Show();
    if (d->queryFailure)
        std::rethrow_exception(std::exchange(d->queryFailure, nullptr));
}

void Application::m_ProgBar_Active()
{
    if (d->queryTaken)
        return;
    d->queryTaken = true;
    Bar *bar = d->progBar.get();
    // This runs inside the window's event handling, where no exception may pass: a failure is
    // kept for Refresh, and a window the report did not close is closed here so Show returns.
    try {
        bar->SetMsg(GetMsgText(QStringLiteral("正在连接服务器")));
        d->title = Vector::Create();
        d->header = Vector::Create();
        d->rs = Recordset::Create();
        d->report->GetRptList(d->header, bar, d->rs, d->result);
        d->report->BuiltRptTitleObject(d->result, d->title, d->property);
    } catch (...) {
        d->queryFailure = std::current_exception();
    }
    if (bar->IsShown()) {
        try {
            bar->Unload();
        } catch (...) {
            if (!d->queryFailure)
                d->queryFailure = std::current_exception();
        }
    }
}

QVariant Application::ShowFilter()
{
    bool showFilter = false;
    return ShowFilter(showFilter);
}

QVariant Application::ShowFilter(bool &bShowFilter)
{
    std::unique_ptr<ReportFilter> dialogHost;
    try {
        dialogHost = std::make_unique<ReportFilter>();
        dialogHost->SetRptID(VariantConvert::ToInt16(QVariant(d->rptId)));
        dialogHost->SetShowFilter(bShowFilter);
        dialogHost->Init();
        DictionaryPtr result = dialogHost->Result();
        if (!result)
            objectNotSet("the filter dialog gave no result");
        d->result = result;
        d->result->SetValue(ErrorKey, QString());
        if (VariantConvert::ToBool(d->result->Value(OkKey)))
            d->filter = dialogHost->Filter();
    } catch (const std::exception &) {
        QString text;
        try {
            if (d->result)
                text = VariantConvert::ToText(d->result->Value(ErrorKey));
        } catch (const VelError &) {
        }
        if (!text.isEmpty())
            ErrorReporter::Message(text);
    }
    return {};
}
