#include "ReportFilter.h"

#include "Dictionary.h"
#include "ErrorReporter.h"
#include "GroupedFilterForm.h"
#include "VelError.h"
#include "facade/Catalog.h"
#include "reports/ReportLayout.h"
#include "frmFilter10901.h"
#include "frmFilter10902.h"
#include "frmFilter10903.h"
#include "frmFilter10906.h"
#include "frmFilter10908.h"
#include "frmFilterClose.h"

#include <QApplication>
#include <QKeyEvent>
#include <QScopeGuard>

ReportFilter::ReportFilter(QObject *parent)
    : QObject(parent), m_result(Dictionary::Create())
{
    m_result->SetValue(QStringLiteral("OK"), false);
}

ReportFilter::~ReportFilter()
{
    if (m_frmItem) {
        m_result->SetValue(QStringLiteral("Error"), QString());
        delete m_frmItem.data();
    }
}

FilterForm *ReportFilter::CreateForm(qint32 rptId)
{
    switch (rptId) {
    case 10901: return new frmFilter10901;
    case 10902: return new frmFilter10902;
    case 10903: return new frmFilter10903;
    case 10904: return new frmFilter10904;
    case 10905: return new frmFilter10905;
    case 10906: return new frmFilter10906;
    case 10908: return new frmFilter10908;
    case 10909: return new frmFilter10909;
    case 10910: return new frmFilter10910;
    case 10911: return new frmFilter10911;
    default: return nullptr;
    }
}

void ReportFilter::attach(FilterForm *form)
{
    detach();
    m_frmItem = form;
    connect(form, &FilterForm::Unload, this, [this] { m_result->SetValue(QStringLiteral("Error"), QString()); });
}

void ReportFilter::detach()
{
    if (m_frmItem) {
        m_frmItem->disconnect(this);
        m_frmItem->deleteLater();
    }
    m_frmItem = nullptr;
}

void ReportFilter::Init()
{
    // Numbers without a report (10907 included) show no dialog.
    if (!VelVipRpt::FindReport(m_rptId))
        return;
    try {
        attach(CreateForm(m_rptId));
        m_frmItem->SetRptID(m_rptId);
        m_frmItem->SetShowFilter(m_showFilter);

        // Key preview: every key of the dialog passes here first while it is shown.
        if (m_frmItem->KeyPreview())
            qApp->installEventFilter(this);
        const auto removeFilter = qScopeGuard([this] { qApp->removeEventFilter(this); });
        m_frmItem->exec();

        if (!m_frmItem)
            throw VelError(QStringLiteral("The filter dialog was destroyed while it was shown"), Vel::ErrObjectNotSet);
        const DictionaryPtr dialogResult = m_frmItem->Result();
        if (!dialogResult) {
            m_result->SetValue(QStringLiteral("OK"), false);
            m_result->SetValue(QStringLiteral("Error"), GetMsgText(QStringLiteral("过滤条件有误，请重新过滤！")));
        } else if (dialogResult->Value(QStringLiteral("OK")).toBool()) {
            m_result->SetValue(QStringLiteral("OK"), true);
            m_result->SetValue(QStringLiteral("Error"), QString());
            m_filter = dialogResult;
        } else {
            m_result->SetValue(QStringLiteral("OK"), false);
        }
    } catch (const VelError &error) {
        detach();
        ErrorReporter::Error(error);
    } catch (const std::exception &e) {
        detach();
        ErrorReporter::Error(VelError(QString::fromUtf8(e.what()), 0, QStringLiteral("ReportFilter")));
    }
}

bool ReportFilter::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() != QEvent::KeyPress || !m_frmItem || !m_frmItem->isVisible())
        return QObject::eventFilter(watched, event);
    auto *widget = qobject_cast<QWidget *>(watched);
    if (!widget || widget->window() != m_frmItem)
        return QObject::eventFilter(watched, event);

    auto *key = static_cast<QKeyEvent *>(event);
    if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
        // Enter moves to the next field and never confirms the dialog. The focus moves in the
        // dialog's tab order directly: a Tab sent to a date picker would only step its sections.
        m_frmItem->FocusNextControl();
        return true;
    }
    if (key->text() == QLatin1String("'"))
        return true;
    return QObject::eventFilter(watched, event);
}
