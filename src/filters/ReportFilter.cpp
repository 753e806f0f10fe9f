#include "ReportFilter.h"

#include "Dictionary.h"

// Placeholder until the filter dialogs land: every report number shows no dialog.
ReportFilter::ReportFilter(QObject *parent)
    : QObject(parent), m_result(Dictionary::Create())
{
    m_result->SetValue(QStringLiteral("OK"), false);
}

ReportFilter::~ReportFilter() = default;

void ReportFilter::Init()
{
}
