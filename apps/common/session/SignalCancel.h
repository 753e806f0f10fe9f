#pragma once

// Ctrl+C (SIGINT) and SIGTERM while a command runs. The first signal stops the running
// statements (Database::StopAll: report reads, a demo load, a schema upgrade); the command
// then cleans up (no temporary file, no half-made tables) and ends with "已取消" on stderr and
// exit status 130. A command that does not end within a few seconds is ended then; a second
// signal ends the process at once.
namespace SignalCancel {

inline constexpr int ExitStatus = 130;

// Installs the handlers and starts the thread that acts on them. Call once, before the command.
void Install();
// Whether a signal has come.
bool Requested();
// Called by a command that ended after a signal with its own status: one that failed prints
// the line and gives 130; one that completed all the same (status 0) says so and gives 0.
int Finish(int status = 1);

} // namespace SignalCancel
