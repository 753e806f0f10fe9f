#include "ErrorReporter.h"

#include "VelError.h"

#include <cstdio>

namespace {
IErrorReporter *g_reporter = nullptr;
}

namespace ErrorReporter {

void Install(IErrorReporter *reporter) { g_reporter = reporter; }
IErrorReporter *Current() { return g_reporter; }

void Message(const QString &text)
{
    if (g_reporter)
        g_reporter->ShowMessage(text);
    else
        std::fprintf(stderr, "%s\n", text.toUtf8().constData());
}

void Error(const VelError &error)
{
    if (g_reporter)
        g_reporter->ShowError(error);
    else
        std::fprintf(stderr, "%s\n", error.Description().toUtf8().constData());
}

} // namespace ErrorReporter
