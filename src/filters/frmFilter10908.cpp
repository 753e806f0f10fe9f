#include "frmFilter10908.h"

#include "Dictionary.h"
#include "FilterPanel.h"
#include "VariantConvert.h"

#include <QDate>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>
#include <QToolButton>

#include "dialog/Twips.h"

namespace {
// The text boxes: branch range, card type range.
const std::pair<const char *, int> boxes[] = {{"BBranchNum", 0}, {"EBranchNum", 1}, {"BVipTypeNum", 2}, {"EVipTypeNum", 3}};
} // namespace

frmFilter10908::frmFilter10908(QWidget *parent)
    : MonthFilterForm(QSize(10125, 4800), parent)
{
    setObjectName(QStringLiteral("frmFilter10908"));
    QFrame *fraPeriod = BuildMonthFrame(1900, 1, 12, QStringLiteral("月"));

    setTabOrder(DtpBDate, DtpEDate);
    QFrame *fraItem = AddTwoCodeRows(QStringLiteral("分    店"), QStringLiteral("卡 类 别"), DtpEDate);
    Panel()->AddFrame(fraPeriod);
    Panel()->AddFrame(fraItem);
}

void frmFilter10908::Form_Load()
{
    LoadSteps();
    Guarded([this] { ShowPeriodOf(QDate::currentDate().addMonths(-1)); });   // the month just closed
}

void frmFilter10908::SaveFilter(DictionaryPtr &Filter)
{
    Guarded([&] {
        Filter->SetValue(QStringLiteral("Year"), qint32(DtpBDate->value()));
        Filter->SetValue(QStringLiteral("Month"), double(DtpEDate->value()));
        for (const auto &[key, index] : boxes)
            Filter->SetValue(QLatin1String(key), Trimmed(txtItem[index]));
    });
}

void frmFilter10908::LoadFilter(DictionaryPtr &Filter)
{
    Guarded([&] { DtpBDate->setValue(VariantConvert::ToInt32(Filter->GetValue(QStringLiteral("Year"), QDate::currentDate().year()))); });
    Guarded([&] { DtpEDate->setValue(int(VariantConvert::ToDouble(Filter->GetValue(QStringLiteral("Month"), QDate::currentDate().month())))); });
    for (const auto &[key, index] : boxes)
        Guarded([&] { txtItem[index]->setText(VariantConvert::ToText(Filter->GetValue(QLatin1String(key), QString()))); });
}

void frmFilter10908::GetLookupInfo(QObject *Ctrl, qint32 &LookupType, QString &Condition, QVariant &)
{
    const int index = IndexOf(Ctrl);
    if (index == 2 || index == 3)
        LookupType = LookupKind::CardType;
    else if (index == 0 || index == 1)
        AnswerBranchOrCard(index, QLatin1String(FilterText::BranchHeadOnly), LookupType, Condition);
}
