#pragma once

#include <QByteArray>
#include <QString>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

#include <sys/types.h>

// A fixed number of worker processes (the service's own binary with --worker), started when
// first needed and replaced when one ends, and a bounded queue of requests waiting for one.
class WorkerPool
{
public:
    struct Process
    {
        pid_t pid = -1;
        int in = -1;    // the worker's standard input
        int out = -1;   // its frames
    };

    // One worker lent to one request. Given back healthy by Finish(); otherwise (the request
    // was abandoned, the worker broke) it is stopped as Ctrl+C stops the command line and
    // replaced.
    class Lease
    {
    public:
        Lease(WorkerPool &pool, Process process) : m_pool(pool), m_process(process) {}
        ~Lease();
        Lease(const Lease &) = delete;
        Lease &operator=(const Lease &) = delete;
        bool Send(const QByteArray &requestLine);
        int Frames() const { return m_process.out; }
        void Finish() { m_healthy = true; }

    private:
        WorkerPool &m_pool;
        Process m_process;
        bool m_healthy = false;
    };

    WorkerPool(QString program, int size, int queue);
    ~WorkerPool();

    // A worker for one request, waiting in the queue when all are busy; nothing when the
    // queue is full or a worker cannot be started.
    std::unique_ptr<Lease> Acquire();

    struct Load { int size, busy, queued; };
    Load Current() const;

private:
    void giveBack(const Process &process, bool healthy);
    Process spawn() const;
    static void stop(const Process &process);

    const QString m_program;
    const int m_size;
    const int m_queue;
    mutable std::mutex m_lock;
    std::condition_variable m_free;
    std::vector<Process> m_idle;
    int m_running = 0;   // started and not yet stopped, idle or lent
    int m_lent = 0;
    int m_waiting = 0;
};
