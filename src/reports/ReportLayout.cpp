#include "ReportLayout.h"

#include "VariantConvert.h"

#include "Dictionary.h"
#include "Vector.h"

namespace {
VectorPtr g_headerTarget;
}

QString GetMsgText(const QString &text)
{
    return text;
}

void SetHeaderTarget(const VectorPtr &target)
{
    g_headerTarget = target;
}

VectorPtr CurrentHeaderTarget()
{
    return g_headerTarget;
}

void AddColumn(const QString &caption, const QString &secondCaption, const QString &colType,
               const QString &fieldName, bool visible, double width, bool showTime)
{
    DictionaryPtr entry = Dictionary::Create();
    entry->SetValue(QStringLiteral("FColCaption"), caption);
    entry->SetValue(QStringLiteral("FHeadSecond"), secondCaption);
    entry->SetValue(QStringLiteral("FColType"), colType);
    entry->SetValue(QStringLiteral("FColName"), fieldName);
    entry->SetValue(QStringLiteral("FVisible"), VariantConvert::Short(qint16(visible ? 1 : 0)));
    entry->SetValue(QStringLiteral("FWidth"), QVariant(width));
    entry->SetValue(QStringLiteral("FShowTime"), QVariant(showTime));
    if (!g_headerTarget)
        g_headerTarget = Vector::Create();
    g_headerTarget->Add(entry);
}
