#include "ReportApplication.h"

#include "PluginLoader.h"

#include "ComponentRegistry.h"
#include "facade/Catalog.h"

#include <QVariant>

namespace {

template <class T>
T read(const QObject &app, const char *name)
{
    return app.property(name).value<T>();
}

} // namespace

ReportApplication::ReportApplication()
{
    PluginLoader::Load();
    m_app = ComponentRegistry::Instance().Create(QLatin1String(VelVipRpt::ApplicationProgId));
}

ReportApplication::~ReportApplication() = default;

void ReportApplication::SetRptID(qint32 rptId) { m_app->setProperty("RptID", rptId); }
qint32 ReportApplication::RptID() const { return m_app->property("RptID").toInt(); }
void ReportApplication::SetFilter(const DictionaryPtr &filter) { m_app->setProperty("Filter", QVariant::fromValue(filter)); }
DictionaryPtr ReportApplication::Filter() const { return Vel::AsDictionary(m_app->property("Filter")); }
void ReportApplication::ShowFilter() { QMetaObject::invokeMethod(m_app.get(), "ShowFilter"); }
void ReportApplication::GetReportData() { QMetaObject::invokeMethod(m_app.get(), "GetReportData"); }
DictionaryPtr ReportApplication::Result() const { return read<DictionaryPtr>(*m_app, "Result"); }
DictionaryPtr ReportApplication::Property() const { return read<DictionaryPtr>(*m_app, "Property"); }
VectorPtr ReportApplication::Header() const { return read<VectorPtr>(*m_app, "Header"); }
VectorPtr ReportApplication::Title() const { return read<VectorPtr>(*m_app, "Title"); }
RecordsetPtr ReportApplication::rs() const { return read<RecordsetPtr>(*m_app, "rs"); }
