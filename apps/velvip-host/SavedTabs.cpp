#include "SavedTabs.h"

#include "Dictionary.h"
#include "ReportSession.h"

#include <QSettings>

namespace SavedTabs {

namespace {

const QString kArray = QStringLiteral("openTabs");

} // namespace

void Save(QSettings &settings, const QList<SavedTab> &tabs)
{
    settings.remove(kArray);
    settings.beginWriteArray(kArray, int(tabs.size()));
    for (int i = 0; i < tabs.size(); ++i) {
        const SavedTab &tab = tabs.at(i);
        settings.setArrayIndex(i);
        settings.setValue(QStringLiteral("report"), tab.rptId);
        settings.setValue(QStringLiteral("label"), tab.label);
        // Key and value pairs in the filter's own order.
        QVariantList filter;
        if (tab.filter)
            for (const QString &key : tab.filter->Keys())
                filter << QVariant(QVariantList{key, tab.filter->Value(key)});
        settings.setValue(QStringLiteral("filter"), filter);
        if (!tab.overrideProps.isEmpty() && ReportSession::MaskedPropsString(tab.overrideProps) == tab.overrideProps)
            settings.setValue(QStringLiteral("props"), tab.overrideProps);
        tab.connection.Save(settings);
    }
    settings.endArray();
}

QList<SavedTab> Load(QSettings &settings)
{
    QList<SavedTab> tabs;
    const int count = settings.beginReadArray(kArray);
    for (int i = 0; i < count; ++i) {
        settings.setArrayIndex(i);
        SavedTab tab;
        tab.rptId = settings.value(QStringLiteral("report")).toInt();
        tab.label = settings.value(QStringLiteral("label")).toString();
        tab.filter = Dictionary::Create();
        for (const QVariant &pair : settings.value(QStringLiteral("filter")).toList()) {
            const QVariantList kv = pair.toList();
            if (kv.size() == 2)
                tab.filter->SetValue(kv.at(0).toString(), kv.at(1));
        }
        tab.overrideProps = settings.value(QStringLiteral("props")).toString();
        tab.connection = ConnectionSettings::Load(settings);
        if (ReportSession::ReportIds().contains(tab.rptId))
            tabs << tab;
    }
    settings.endArray();
    return tabs;
}

} // namespace SavedTabs
