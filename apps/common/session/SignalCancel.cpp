#include "SignalCancel.h"

#include "Database.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <system_error>
#include <thread>
#include <utility>

#include <fcntl.h>
#include <unistd.h>

namespace {

// The handler only counts and writes to a pipe; the watcher thread does the rest.
int g_pipe[2] = {-1, -1};
std::atomic<int> g_signals{0};
std::atomic<bool> g_said{false};     // the line has been written (once, by whoever ends first)
static_assert(std::atomic<int>::is_always_lock_free && std::atomic<bool>::is_always_lock_free);

constexpr char line[] = "已取消\n";
// How long a command may take to clean up and end by itself once its statements were stopped
// (removing a temporary file, a rollback on the server).
constexpr auto cleanup = std::chrono::seconds(3);

[[noreturn]] void exitNow()
{
    if (!g_said.exchange(true))
        (void)!::write(STDERR_FILENO, line, sizeof line - 1);
    ::_exit(SignalCancel::ExitStatus);
}

void onSignal(int)
{
    const int saved = errno;
    if (g_signals.fetch_add(1) > 0)
        exitNow();
    const char byte = 1;
    (void)!::write(g_pipe[1], &byte, 1);
    errno = saved;
}

void watch()
{
    char byte = 0;
    while (::read(g_pipe[0], &byte, 1) < 0 && errno == EINTR) {
    }
    Database::StopAll();
    std::this_thread::sleep_for(cleanup);
    exitNow();
}

} // namespace

namespace SignalCancel {

void Install()
{
    if (g_pipe[0] >= 0 || ::pipe2(g_pipe, O_CLOEXEC) != 0)
        return;
    try {
        std::thread(watch).detach();
    } catch (const std::system_error &) {
        return;   // no thread to spare (memory limit): the default handlers end the process
    }
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

bool Requested()
{
    return g_signals.load() > 0;
}

int Finish(int status)
{
    static bool finished = false;   // the command's own thread only
    if (std::exchange(finished, true))
        return ExitStatus;
    if (status == 0) {
        // Nothing to undo: the output is complete and in place.
        constexpr char done[] = "收到取消时命令已经完成\n";
        (void)!::write(STDERR_FILENO, done, sizeof done - 1);
        return 0;
    }
    if (g_said.exchange(true)) {
        // The watcher is writing the line and ending the process.
        for (;;)
            ::pause();
    }
    (void)!::write(STDERR_FILENO, line, sizeof line - 1);
    return ExitStatus;
}

} // namespace SignalCancel
