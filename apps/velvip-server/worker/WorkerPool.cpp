#include "WorkerPool.h"

#include <QFile>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <system_error>
#include <thread>
#include <utility>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

WorkerPool::WorkerPool(QString program, int size, int queue, int downloads)
    : m_program(std::move(program)), m_size(size), m_queue(queue), m_downloads(downloads)
{
    if (::pipe2(m_cutSignal, O_CLOEXEC) != 0)
        throw std::system_error(errno, std::generic_category(), "pipe2");
}

WorkerPool::~WorkerPool()
{
    std::lock_guard guard(m_lock);
    for (const Process &p : m_idle)
        stop(p);
    ::close(m_cutSignal[0]);
    ::close(m_cutSignal[1]);
}

void WorkerPool::Cut()
{
    std::lock_guard guard(m_lock);
    if (std::exchange(m_cut, true))
        return;
    const char byte = 1;   // never read: the pipe stays readable
    while (::write(m_cutSignal[1], &byte, 1) < 0 && errno == EINTR) {
    }
    m_free.notify_all();
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
    // A whole request fits in the pipe: sending one never waits on the worker.
    ::fcntl(toWorker[1], F_SETPIPE_SZ, int(WorkerProtocol::MaxRequestFrame + 4));
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
    const auto free = [&](bool forDownload) {
        return (!m_idle.empty() || m_running < m_size) && (!forDownload || m_downloading < m_downloads);
    };
    // In the order of arrival: a request goes when what it needs is free and no earlier waiter
    // could use it (one that was woken but has not run yet included), so none waits for ever
    // behind later ones. A download waiting for its slot does not hold the others back.
    const auto first = [&](std::list<bool>::const_iterator self) {
        for (auto it = m_waiters.cbegin(); it != self; ++it)
            if (free(*it))
                return false;
        return free(download);
    };
    if (!m_cut && !first(m_waiters.cend())) {
        if (m_waiting >= m_queue)
            return nullptr;
        ++m_waiting;
        const auto self = m_waiters.insert(m_waiters.cend(), download);
        m_free.wait(guard, [&] { return m_cut || first(self); });
        m_waiters.erase(self);
        --m_waiting;
        m_free.notify_all();   // the next in line may go too
    }
    if (m_cut)
        return nullptr;
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
    if (m_cut || !m_idle.empty() || m_running >= m_size)
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

bool WorkerPool::isCut() const
{
    std::lock_guard guard(m_lock);
    return m_cut;
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

bool WorkerPool::Lease::Send(const QByteArray &frame)
{
    return WorkerProtocol::WriteFrame(m_process.in, frame);
}

namespace {

enum class Waited { Answer, ClientLeft, Cut };

// Waits for the worker's first frame, the client hanging up, or the pool's cut.
Waited firstFrame(int worker, int client, int cut)
{
    pollfd fds[3] = {{worker, POLLIN, 0}, {cut, POLLIN, 0}, {client, POLLRDHUP, 0}};
    for (;;) {
        const int rc = ::poll(fds, client >= 0 ? 3 : 2, -1);
        if (rc < 0 && errno == EINTR)
            continue;
        if (fds[1].revents)
            return Waited::Cut;
        if (fds[0].revents || rc < 0)
            return Waited::Answer;
        if (fds[2].revents & (POLLRDHUP | POLLHUP | POLLERR))
            return Waited::ClientLeft;
    }
}

WorkerAnswer stopping(const WorkerRequest &request)
{
    return WorkerAnswer::Failed(request, Vel::ErrorKind::Cancelled, QStringLiteral("服务正在停止，这次请求没有完成；请稍后再试。"));
}

} // namespace

WorkerCall::WorkerCall(WorkerPool &pool, WorkerRequest request, bool download)
    : m_pool(pool), m_request(std::move(request)), m_download(download)
{
    std::lock_guard guard(m_pool.m_lock);
    m_request.id = ++m_pool.m_lastId;
}

WorkerCall::~WorkerCall() = default;

WorkerAnswer WorkerCall::broken()
{
    m_lease.reset();   // not given back healthy: stopped and replaced
    return WorkerAnswer::Failed(m_request, Vel::ErrorKind::Internal,
                                QStringLiteral("报表进程意外终止，这次请求没有完成；请重试。"));
}

std::optional<WorkerAnswer> WorkerCall::Begin(int client)
{
    m_lease = m_pool.Acquire(m_download);
    if (!m_lease && m_pool.isCut())
        return stopping(m_request);
    if (!m_lease)
        return WorkerAnswer::Failed(m_request, Vel::ErrorKind::Unavailable,
                                    QStringLiteral("服务繁忙：等待运行的报表已满，请稍后再试。"));
    if (!m_lease->Send(m_request.Encode()))
        return broken();
    // A client that leaves while the report runs stops it, as Ctrl+C stops the command line;
    // so does the service's stop, which answers the client.
    switch (firstFrame(m_lease->Frames(), client, m_pool.m_cutSignal[0])) {
    case Waited::ClientLeft:
        m_lease.reset();
        return std::nullopt;
    case Waited::Cut:
        m_lease.reset();
        return stopping(m_request);
    case Waited::Answer:
        break;
    }
    WorkerProtocol::Fault fault;
    const auto answer = WorkerProtocol::ReadAnswer(m_lease->Frames(), m_request, fault, m_pool.m_cutSignal[0]);
    if (fault == WorkerProtocol::Fault::Stopped) {
        m_lease.reset();
        return stopping(m_request);
    }
    if (!answer || (answer->kind != WorkerProtocol::FrameKind::Head && answer->kind != WorkerProtocol::FrameKind::Failure))
        return broken();
    if (answer->kind == WorkerProtocol::FrameKind::Failure) {
        m_lease->Finish();
        m_lease.reset();
    }
    return answer;
}

WorkerAnswer WorkerCall::Next()
{
    if (!m_lease)
        return broken();
    WorkerProtocol::Fault fault;
    const auto answer = WorkerProtocol::ReadAnswer(m_lease->Frames(), m_request, fault, m_pool.m_cutSignal[0]);
    if (fault == WorkerProtocol::Fault::Stopped) {
        m_lease.reset();
        return stopping(m_request);
    }
    if (!answer || answer->kind == WorkerProtocol::FrameKind::Head)
        return broken();
    if (answer->kind == WorkerProtocol::FrameKind::Failure
        || (answer->kind == WorkerProtocol::FrameKind::End && !answer->last))
        m_lease->Finish();
    if (answer->kind != WorkerProtocol::FrameKind::Data)
        m_lease.reset();
    return *answer;
}
