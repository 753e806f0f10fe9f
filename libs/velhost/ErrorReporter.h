#pragma once

#include "velhost_export.h"

#include <QString>

class VelError;

// The host's global error reporter: the host installs one; the plug-in hands texts and
// errors to it.
class VELHOST_EXPORT IErrorReporter
{
public:
    virtual ~IErrorReporter() = default;
    virtual void ShowMessage(const QString &text) = 0;
    virtual void ShowError(const VelError &error) = 0;
};

namespace ErrorReporter {
// The installed reporter, or nullptr. The host keeps ownership.
VELHOST_EXPORT void Install(IErrorReporter *reporter);
VELHOST_EXPORT IErrorReporter *Current();
// Convenience: report through the installed reporter, or to stderr when none is installed.
VELHOST_EXPORT void Message(const QString &text);
VELHOST_EXPORT void Error(const VelError &error);
} // namespace ErrorReporter
