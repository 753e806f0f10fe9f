#pragma once

#include <QString>

// What the chain commands (make-demo, upgrade-schema) write on stderr.
namespace CommandText {

// `text` on stderr at once, in the locale's encoding.
void PrintErr(const QString &text);
// "<command>: <why>" and the command's usage on stderr; returns 2, a usage error's exit status.
int UsageError(const char *command, const char *usage, const QString &why);

} // namespace CommandText
