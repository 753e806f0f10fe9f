#pragma once

#include "ReportOutput.h"

#include <QString>
#include <QVariantMap>

#include <functional>

class ReportApplication;

// What both hosts do around the plug-in: register the outside components, publish the
// host context, hand the connection text to the shared-property store, and read a run's
// results back from Application.
namespace ReportSession {

// Both hosts share one identity, so that they find the same demo chain and settings folder.
void SetApplicationIdentity();

// The reports, in order, from the plug-in's public catalogue.
QList<qint32> ReportIds();
// The report numbers for a message: "10901 至 10906、10908 至 10911".
QString ReportIdsText();

// The report's "Name" property, as the catalogue gives it; the number for an unknown report.
QString ReportName(qint32 rptId);

// A filter that runs the report without its dialog: the first month of the demo chain, the
// first grouping the report offers (the branch grouping for report 10902).
DictionaryPtr SampleFilter(qint32 rptId);

// Registers the shared-property store, the server data component and the filter panel, and
// loads the plug-in from its folder (PluginLoader). Safe to call more than once. Throws
// VelError with one sentence when no usable plug-in is found.
void RegisterComponents();

// Publishes the host context: "AppType" as a whole number, "ISBranch" and "SVCardShareType"
// as truth values, every other key as text. Values given as text are converted.
void PublishContext(const QVariantMap &context);
// The host context the hosts use when none is given: a head office that shares cards.
QVariantMap DefaultContext();
// Converts a context value given as text to the type its key expects; throws VelError.
QVariant ContextValue(const QString &key, const QVariant &value);

// Stores the connection text as "PropsString" for this process.
void SetPropsString(const QString &propsString);
// The connection text stored for this process.
QString PropsString();
// The connection text of the embedded demo chain, generated on first use.
QString DefaultPropsString(const std::function<void(QString)> &progress = {});
// The connection text with its password masked, for titles and messages.
QString MaskedPropsString(const QString &propsString);

// The number of the branch with exactly this name, found through the branch lookup list the
// filter dialogs use, on the published connection; empty when no single branch has the name.
// Throws VelError when the list cannot be read.
QString BranchNumber(const QString &name);
// The name of the branch with exactly this number, found the same way; empty when there is none.
QString BranchName(const QString &number);

// The facade's results, shared with it.
ReportOutput Collect(const ReportApplication &app);

} // namespace ReportSession
