// Engines in worker processes of the command, kept warm and fed one task at a time
// from bounded queues: for the service, and for batches of several engines. Each scale
// has engines of its own (a process paints at one scale), started when first asked.
// A worker that hangs past its task's time limit, or ends, is replaced; one that cannot
// start is tried again later and later, and meanwhile its tasks are answered at once.
#pragma once

#include <gio/gio.h>

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "shot/Worker.h"

namespace shot {

struct EngineJob {
    WorkerTask task;  // its id is the pool's to give
    std::function<void(const WorkerAnswer&)> done;  // heard once, also when it failed or was cancelled
};

class EnginePool {
public:
    // Why a worker that was up was replaced.
    enum class Replaced {
        Failed,      // it hung past its task's time limit, or ended unexpectedly
        AfterLogin,  // it answered a login, which its engine would keep: it ended by itself
        ClientLeft,  // it was stopped because its task's asker left
    };
    // `command`: a worker's command line, to which "--scale=N" is added; `replaced` is
    // told of each worker replaced, and why. The engines of `firstScale` are started at
    // once; those of other scales when first asked for.
    EnginePool(std::vector<std::string> command, int enginesPerScale, std::function<void(Replaced)> replaced = {},
               int firstScale = 1);
    ~EnginePool();
    EnginePool(const EnginePool&) = delete;
    EnginePool& operator=(const EnginePool&) = delete;

    enum class Submitted { Queued, Full, Unavailable };
    // Queues a job; Full when `limit` jobs of its scale already wait, Unavailable when
    // no engine of its scale could be started.
    Submitted submit(std::shared_ptr<EngineJob>, std::size_t limit);
    // Its asker left: it leaves the queue, or its engine is stopped (and replaced).
    void cancel(const std::shared_ptr<EngineJob>&);
    // Takes no more jobs: those waiting are answered "interrupted" with `message`; those
    // under way are finished, and no engine is started again.
    void drain(const std::string& message);
    // Ends every worker: their input is closed, and those still there after `ms` are killed.
    void stop(int ms);
    // Asks every worker to end at once (SIGTERM): a busy one stops its page, writes
    // nothing (a file under way is finished first) and answers; none is started again,
    // and jobs still waiting are answered "interrupted".
    void interrupt();

    bool ready() const;  // an engine of the first scale is up
    // Why no engine of `scale` could be started, in the user's words (as Unavailable
    // jobs are answered).
    std::string unavailable(int scale) const;
    std::size_t queued() const;
    std::size_t busy() const;
    std::size_t alive() const;

    struct Worker;
    struct Group;

private:
    // Answers every job still waiting with `status` and `message`, at once.
    void failQueued(Status status, const std::string& message);
    Group& group(int scale);
    void spawn(Worker&);
    void dispatch(Group&);
    void finish(Worker&, WorkerAnswer);
    void ended(Worker&);
    void heard(Worker&, const std::string& line);
    static void lineRead(GObject*, GAsyncResult*, gpointer);
    static void exited(GObject*, GAsyncResult*, gpointer);

    std::vector<std::string> command_;
    int engines_, firstScale_;
    std::function<void(Replaced)> replaced_;
    std::map<int, std::unique_ptr<Group>> groups_;
    unsigned long nextId_ = 1;
    bool stopping_ = false;
    bool interrupted_ = false;
    bool draining_ = false;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

// A line as it may be logged: control characters escaped, cut short when long.
std::string printable(const std::string& text, std::size_t longest = 300);

}  // namespace shot
