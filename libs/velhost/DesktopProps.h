#pragma once

#include "velhost_export.h"

#include <QString>

class Dictionary;

// The process-wide stand-in for properties attached to the desktop window: the host publishes
// its context object under a name (the decimal process id); readers borrow it and never own it.
namespace DesktopProps {

VELHOST_EXPORT void SetProp(const QString &name, Dictionary *object);
VELHOST_EXPORT Dictionary *GetProp(const QString &name);
VELHOST_EXPORT void RemoveProp(const QString &name);

// The property name the host uses for its context: the process id in decimal digits.
VELHOST_EXPORT QString ContextPropName();

} // namespace DesktopProps
