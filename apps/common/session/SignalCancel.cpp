#include "SignalCancel.h"

#include "Database.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
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
// How long a command may take to end by itself once its query has been stopped.
constexpr auto grace = std::chrono::milliseconds(300);

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
    std::this_thread::sleep_for(grace);
    exitNow();
}

} // namespace

namespace SignalCancel {

void Install()
{
    if (g_pipe[0] >= 0 || ::pipe2(g_pipe, O_CLOEXEC) != 0)
        return;
    std::thread(watch).detach();
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

int Finish()
{
    static bool finished = false;   // the command's own thread only
    if (std::exchange(finished, true))
        return ExitStatus;
    if (g_said.exchange(true)) {
        // The watcher is writing the line and ending the process.
        for (;;)
            ::pause();
    }
    (void)!::write(STDERR_FILENO, line, sizeof line - 1);
    return ExitStatus;
}

} // namespace SignalCancel
