// The capture service's engines: worker processes of the command, each with an engine
// of its own, kept warm and fed one request at a time from a bounded queue. A worker
// that hangs past its request's time limit, or ends, is replaced; the others go on.
#pragma once

#include <gio/gio.h>

#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "shot/Worker.h"

namespace shot {

struct Job {
    std::vector<std::string> args;  // the command's arguments
    int timeoutS = 30;
    gint64 began = 0;
    bool gone = false;  // its client went away: the answer goes nowhere
    void* context = nullptr;  // the service's own
};

class ServicePool {
public:
    using Done = std::function<void(const std::shared_ptr<Job>&, const WorkerAnswer&)>;
    ServicePool(std::vector<std::string> workerCommand, int workers, Done done, std::function<void()> restarted);
    ~ServicePool();

    // Queues a job; false when `limit` jobs already wait.
    bool submit(std::shared_ptr<Job>, std::size_t limit);
    // Answers every job still waiting with `answer`, at once.
    void failQueued(const WorkerAnswer& answer);
    // Ends every worker: their input is closed, and those still there after `ms` are killed.
    void stop(int ms);

    std::size_t queued() const { return queue_.size(); }
    std::size_t busy() const;
    std::size_t alive() const;

    struct Worker;

private:
    void spawn(Worker&);
    void dispatch();
    void finish(Worker&, const WorkerAnswer&);
    static void lineRead(GObject*, GAsyncResult*, gpointer);
    static void exited(GObject*, GAsyncResult*, gpointer);

    std::vector<std::string> command_;
    Done done_;
    std::function<void()> restarted_;
    std::vector<std::unique_ptr<Worker>> workers_;
    std::deque<std::shared_ptr<Job>> queue_;
    bool stopping_ = false;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace shot
