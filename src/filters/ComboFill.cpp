#include "filters/ComboFill.h"

#include "HostContextReader.h"
#include "VariantConvert.h"
#include "VelError.h"

#include <QComboBox>

void FillCombo(QComboBox *combo, const QList<QVariantList> &table, qint32 selectCode)
{
    if (!combo)
        throw VelError(QStringLiteral("Object variable not set: no drop-down list given"), Vel::ErrObjectNotSet);
    combo->clear();
    const qint32 appType = GetAppType();
    int chosen = -1;
    for (const QVariantList &entry : table) {
        if (entry.size() < 3)
            throw VelError(QStringLiteral("A drop-down entry needs a code, a text and a mask"), Vel::ErrTypeMismatch);
        const qint32 code = VariantConvert::ToInt32(entry.at(0));
        const QString text = VariantConvert::ToText(entry.at(1));
        const qint32 mask = VariantConvert::ToInt32(entry.at(2));
        if ((mask & appType) != appType)
            continue;
        combo->addItem(text, QVariant(code));
        if (code == selectCode && chosen < 0)
            chosen = combo->count() - 1;
    }
    if (combo->count() > 0)
        combo->setCurrentIndex(chosen < 0 ? 0 : chosen);
}

qint16 FindComboItemData(const QComboBox *combo, qint32 code)
{
    if (!combo)
        return -1;
    for (int i = 0; i < combo->count(); ++i) {
        const QVariant data = combo->itemData(i);
        if (data.isValid() && VariantConvert::ToInt32(data) == code)
            return qint16(i);
    }
    return -1;
}
