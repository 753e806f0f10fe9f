#pragma once

#include <QJsonObject>
#include <QString>
#include <QStringList>

// Finds the report plug-in in the plug-in folder the way any host does: every library there
// whose metadata lists "VelVipRpt.Application" among its ProgIDs is a candidate; the first one
// built for this host's interface version is loaded and its classes registered.
namespace PluginLoader {

// The folders searched, in order: those in $VELVIPRPT_PLUGIN_PATH (separated by ':'), the
// package's plug-in folder beside the program, and the build tree's.
QStringList Folders();

// Why a plug-in with this QPluginLoader metadata cannot serve this host, in one sentence;
// empty when it can.
QString Problem(const QString &file, const QJsonObject &metaData);

// The file of the plug-in Load() would load, without loading it. Throws VelError with one
// sentence when no usable plug-in is found.
QString Locate();

// Loads the plug-in once and registers its classes with the component registry. Throws
// VelError with one sentence when no usable plug-in is found.
void Load();

} // namespace PluginLoader
