#include "facade/IQueryReport.h"
#include "facade/IReportFilter.h"

IQueryReport::IQueryReport(QObject *parent) : QObject(parent) {}
IQueryReport::~IQueryReport() = default;

void IQueryReport::BuiltRptTitleObject(DictionaryPtr &, VectorPtr &, DictionaryPtr &) {}
QVariant IQueryReport::GetRptList(VectorPtr &, Bar *, RecordsetPtr &, DictionaryPtr &) { return {}; }
QVariant IQueryReport::SetRptProperty(DictionaryPtr &) { return {}; }
DictionaryPtr IQueryReport::Filter() const { return nullptr; }
void IQueryReport::SetFilter(const DictionaryPtr &) {}
RecordsetPtr IQueryReport::rs() const { return nullptr; }

IReportFilter::IReportFilter(QObject *parent) : QObject(parent) {}
IReportFilter::~IReportFilter() = default;

bool IReportFilter::CheckFilter() { return false; }
void IReportFilter::InitControls() {}
