#include "ErrorReporter.h"

#include "VelError.h"

#include <atomic>
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

namespace Vel {
namespace {
std::atomic<quint8> g_lastFailure{quint8(ErrorKind::Internal)};
}

void NoteFailure(ErrorKind kind)
{
    g_lastFailure = quint8(kind);
}

ErrorKind TakeFailure()
{
    return ErrorKind(g_lastFailure.exchange(quint8(ErrorKind::Internal)));
}
} // namespace Vel
