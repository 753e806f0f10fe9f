#pragma once

#include "WorkerProtocol.h"

#include <QByteArray>
#include <QString>

#include <condition_variable>
#include <list>
#include <memory>
#include <mutex>
#include <vector>

#include <sys/types.h>

// A fixed number of worker processes (the service's own binary with --worker), started when
// first needed and replaced when one ends, and a bounded queue of requests waiting for one. One
// worker is started ahead (Prepare), so that a request seldom waits for a process to start.
// Downloads (whole reports written as files) also wait for one of a few download slots, so that
// at most that many record sets of any size are held at once, however many people download.
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
        Lease(WorkerPool &pool, Process process, bool download)
            : m_pool(pool), m_process(process), m_download(download) {}
        ~Lease();
        Lease(const Lease &) = delete;
        Lease &operator=(const Lease &) = delete;
        bool Send(const QByteArray &frame);
        int Frames() const { return m_process.out; }
        void Finish() { m_healthy = true; }

    private:
        WorkerPool &m_pool;
        Process m_process;
        bool m_download;
        bool m_healthy = false;
    };

    WorkerPool(QString program, int size, int queue, int downloads);
    ~WorkerPool();

    // A worker for one request, waiting in the queue (served in order of arrival) when all are
    // busy; nothing when the queue is full or a worker cannot be started.
    std::unique_ptr<Lease> Acquire(bool download = false);

    // Starts a worker to wait idle when none is idle and the pool has room.
    void Prepare();

    // The service's stop: from now on every call waiting for a worker or for its answer ends
    // (Cancelled), its worker is stopped, and no worker is started again.
    void Cut();

    struct Load { int size, busy, queued; };
    Load Current() const;

private:
    void giveBack(const Process &process, bool healthy, bool download);
    bool isCut() const;
    Process spawn() const;
    static void stop(const Process &process);

    const QString m_program;
    const int m_size;
    const int m_queue;
    const int m_downloads;
    mutable std::mutex m_lock;
    std::condition_variable m_free;
    std::vector<Process> m_idle;
    int m_running = 0;   // started and not yet stopped, idle or lent
    int m_lent = 0;
    int m_waiting = 0;
    std::list<bool> m_waiters;   // waiting calls in order of arrival: whether each is a download
    int m_downloading = 0;
    quint64 m_lastId = 0;
    bool m_cut = false;
    int m_cutSignal[2] = {-1, -1};   // readable once cut: wakes every call waiting on a worker

    friend class WorkerCall;
};

// One request on a worker: the one way the routes and the scheduler ask workers anything. Every
// answer frame is checked (size, form, id, user, order) before any of it is handed on; a worker
// that breaks one of these is stopped and replaced, and the call ends with a failure.
class WorkerCall
{
public:
    // Gives the request its id; `download` waits for a download slot too.
    WorkerCall(WorkerPool &pool, WorkerRequest request, bool download);
    ~WorkerCall();

    // Sends the request and waits for the answer's first frame: Head or Failure (also made here
    // when no worker is free or it broke). Nothing when `client` (a socket; -1: none) hung up
    // first: the run is stopped.
    std::optional<WorkerAnswer> Begin(int client = -1);
    // After a Head: the next frame, Data or End, or a Failure that ends the answer.
    WorkerAnswer Next();

    const WorkerRequest &Request() const { return m_request; }

private:
    WorkerAnswer broken();

    WorkerPool &m_pool;
    WorkerRequest m_request;
    bool m_download;
    std::unique_ptr<WorkerPool::Lease> m_lease;
};
