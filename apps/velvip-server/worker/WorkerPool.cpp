#include "WorkerPool.h"

#include <QFile>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <thread>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

WorkerPool::WorkerPool(QString program, int size, int queue, int downloads)
    : m_program(std::move(program)), m_size(size), m_queue(queue), m_downloads(downloads)
{
}

WorkerPool::~WorkerPool()
{
    std::lock_guard guard(m_lock);
    for (const Process &p : m_idle)
        stop(p);
}

WorkerPool::Process WorkerPool::spawn() const
{
    int toWorker[2], fromWorker[2];
    if (::pipe2(toWorker, O_CLOEXEC) != 0)
        return {};
    if (::pipe2(fromWorker, O_CLOEXEC) != 0) {
        ::close(toWorker[0]);
        ::close(toWorker[1]);
        return {};
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, toWorker[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, fromWorker[1], STDOUT_FILENO);
    const QByteArray program = QFile::encodeName(m_program);
    char *argv[] = {const_cast<char *>(program.constData()), const_cast<char *>("--worker"), nullptr};
    // Its own process group (a Ctrl+C at the service's terminal is the service's to act on)
    // and no signal blocked, whatever the spawning thread blocks.
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setpgroup(&attr, 0);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETPGROUP);
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, program.constData(), &actions, &attr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    ::close(toWorker[0]);
    ::close(fromWorker[1]);
    if (rc != 0) {
        ::close(toWorker[1]);
        ::close(fromWorker[0]);
        return {};
    }
    return {pid, toWorker[1], fromWorker[0]};
}

void WorkerPool::stop(const Process &p)
{
    ::close(p.in);
    ::close(p.out);
    // SIGTERM stops the running query the way Ctrl+C does; a worker that does not end soon
    // is killed.
    ::kill(p.pid, SIGTERM);
    for (int i = 0; i < 40; ++i) {
        if (::waitpid(p.pid, nullptr, WNOHANG) == p.pid)
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    ::kill(p.pid, SIGKILL);
    ::waitpid(p.pid, nullptr, 0);
}

std::unique_ptr<WorkerPool::Lease> WorkerPool::Acquire(bool download)
{
    std::unique_lock guard(m_lock);
    // A worker that ended while idle is replaced without costing a request.
    std::erase_if(m_idle, [this](const Process &p) {
        if (::waitpid(p.pid, nullptr, WNOHANG) != p.pid)
            return false;
        ::close(p.in);
        ::close(p.out);
        --m_running;
        return true;
    });
    const auto ready = [&] {
        return (!m_idle.empty() || m_running < m_size) && (!download || m_downloading < m_downloads);
    };
    if (!ready()) {
        if (m_waiting >= m_queue)
            return nullptr;
        ++m_waiting;
        m_free.wait(guard, ready);
        --m_waiting;
    }
    ++m_lent;
    if (download)
        ++m_downloading;
    if (!m_idle.empty()) {
        const Process p = m_idle.back();
        m_idle.pop_back();
        return std::make_unique<Lease>(*this, p, download);
    }
    ++m_running;
    guard.unlock();
    const Process p = spawn();
    if (p.pid < 0) {
        guard.lock();
        --m_running;
        --m_lent;
        if (download)
            --m_downloading;
        m_free.notify_all();
        return nullptr;
    }
    return std::make_unique<Lease>(*this, p, download);
}

void WorkerPool::giveBack(const Process &p, bool healthy, bool download)
{
    if (!healthy)
        stop(p);
    {
        std::lock_guard guard(m_lock);
        --m_lent;
        if (download)
            --m_downloading;
        if (healthy)
            m_idle.push_back(p);
        else
            --m_running;
        // Downloads and other requests wait for different things.
        m_free.notify_all();
    }
    // A worker that ended (a big run, a cancel, a crash) is replaced now, not by the next request.
    if (!healthy)
        Prepare();
}

void WorkerPool::Prepare()
{
    std::unique_lock guard(m_lock);
    if (!m_idle.empty() || m_running >= m_size)
        return;
    ++m_running;
    guard.unlock();
    const Process p = spawn();
    guard.lock();
    if (p.pid < 0)
        --m_running;
    else
        m_idle.push_back(p);
    m_free.notify_all();
}

WorkerPool::Load WorkerPool::Current() const
{
    std::lock_guard guard(m_lock);
    return {m_size, m_lent, m_waiting};
}

WorkerPool::Lease::~Lease()
{
    m_pool.giveBack(m_process, m_healthy, m_download);
}

bool WorkerPool::Lease::Send(const QByteArray &requestLine)
{
    const char *data = requestLine.constData();
    qsizetype left = requestLine.size();
    while (left > 0) {
        const ssize_t n = ::write(m_process.in, data, size_t(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        left -= n;
    }
    return true;
}
