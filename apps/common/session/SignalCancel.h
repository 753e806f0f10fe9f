#pragma once

// Ctrl+C (SIGINT) and SIGTERM while a command runs. The first signal stops the running report
// query (Database::StopAll); the command then ends with "已取消" on stderr and exit status 130.
// A command busy with something other than a query (writing its output, making a demo chain)
// is ended the same way a moment later; a second signal ends the process at once.
namespace SignalCancel {

inline constexpr int ExitStatus = 130;

// Installs the handlers and starts the thread that acts on them. Call once, before the command.
void Install();
// Whether a signal has come.
bool Requested();
// Prints the line and gives the exit status; called by a command that ended after a signal.
int Finish();

} // namespace SignalCancel
