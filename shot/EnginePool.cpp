#include "shot/EnginePool.h"

#include <algorithm>
#include <csignal>

#include "shot/EnginePoolState.h"
#include "shot/Loop.h"
#include "shot/Messages.h"

namespace shot {

using pool::failure;
using pool::kGraceS;

EnginePool::EnginePool(std::vector<std::string> command, int enginesPerScale, std::function<void(Replaced)> replaced,
                       int firstScale)
    : command_(std::move(command)), engines_(std::max(1, enginesPerScale)), firstScale_(firstScale),
      replaced_(std::move(replaced)) {
    group(firstScale_);
}

EnginePool::~EnginePool() {
    stop(0);
    *alive_ = false;
    for (auto& [scale, g] : groups_)
        for (auto& w : g->workers)
            if (w->retry) g_source_remove(w->retry);
}

EnginePool::Group& EnginePool::group(int scale) {
    auto& g = groups_[scale];
    if (g) return *g;
    g = std::make_unique<Group>();
    g->scale = scale;
    for (int i = 0; i < engines_; ++i) {
        g->workers.push_back(std::make_unique<Worker>());
        g->workers.back()->pool = this;
        g->workers.back()->group = g.get();
        spawn(*g->workers.back());
    }
    return *g;
}


bool EnginePool::ready() const {
    const auto it = groups_.find(firstScale_);
    return !stopping_ && it != groups_.end() &&
           std::any_of(it->second->workers.begin(), it->second->workers.end(), [](const auto& w) { return w->ready; });
}

std::string EnginePool::unavailable(int scale) const {
    const auto it = groups_.find(scale);
    const std::string why = it == groups_.end() ? std::string() : it->second->why;
    return why.empty() ? tr("no engine could be started") : format(tr("no engine could be started: %s"), why.c_str());
}

std::size_t EnginePool::queued() const {
    std::size_t n = 0;
    for (const auto& [scale, g] : groups_) n += g->queue.size();
    return n;
}

std::size_t EnginePool::busy() const {
    std::size_t n = 0;
    for (const auto& [scale, g] : groups_)
        for (const auto& w : g->workers) n += w->job != nullptr;
    return n;
}

std::size_t EnginePool::alive() const {
    std::size_t n = 0;
    for (const auto& [scale, g] : groups_)
        for (const auto& w : g->workers) n += w->ready;
    return n;
}

EnginePool::Submitted EnginePool::submit(std::shared_ptr<EngineJob> job, std::size_t limit) {
    Group& g = group(job->task.request.scale);
    if (g.unavailable() || draining_) return Submitted::Unavailable;
    const bool idle = std::any_of(g.workers.begin(), g.workers.end(), [](const auto& w) { return w->ready && !w->job; });
    if (!idle && g.queue.size() >= limit) return Submitted::Full;
    job->task.id = nextId_++;
    g.queue.push_back(std::move(job));
    dispatch(g);
    return Submitted::Queued;
}

void EnginePool::cancel(const std::shared_ptr<EngineJob>& job) {
    for (auto& [scale, g] : groups_) {
        const auto at = std::find(g->queue.begin(), g->queue.end(), job);
        if (at != g->queue.end()) {
            g->queue.erase(at);
            job->done(failure(job->task.id, TaskEnd::Page, Status::Interrupted, tr("cancelled")));
            return;
        }
        for (auto& w : g->workers)
            if (w->job == job && w->process) {
                w->cancelled = true;
                g_subprocess_force_exit(w->process);  // its end answers the job
                return;
            }
    }
}

void EnginePool::failQueued(Status status, const std::string& message) {
    for (auto& [scale, g] : groups_) {
        auto queue = std::move(g->queue);
        g->queue.clear();
        for (auto& job : queue) job->done(failure(job->task.id, TaskEnd::Page, status, message));
    }
}

void EnginePool::dispatch(Group& g) {
    if (g.unavailable()) {
        auto queue = std::move(g.queue);
        g.queue.clear();
        const std::string why = unavailable(g.scale);
        for (auto& job : queue) job->done(failure(job->task.id, TaskEnd::Unavailable, Status::LoadFailed, why));
        return;
    }
    for (auto& w : g.workers) {
        if (g.queue.empty() || stopping_ || interrupted_) return;
        if (w->job || !w->ready) continue;
        w->job = g.queue.front();
        g.queue.pop_front();
        w->overdue = w->cancelled = false;
        const std::string line = taskLine(w->job->task);
        if (!g_output_stream_write_all(w->in, line.data(), line.size(), nullptr, nullptr, nullptr)) {
            g_subprocess_force_exit(w->process);  // its end answers the job
            continue;
        }
        struct Guard {
            Worker* worker;
            unsigned generation;
        };
        const int limitS = w->job->task.request.timeoutMs / 1000 + kGraceS;
        w->guard = g_timeout_add_seconds_full(
            G_PRIORITY_DEFAULT, static_cast<guint>(limitS),
            [](gpointer d) -> gboolean {
                auto* guard = static_cast<Guard*>(d);
                if (guard->worker->generation == guard->generation && guard->worker->process) {
                    guard->worker->overdue = true;
                    guard->worker->guard = 0;
                    g_subprocess_force_exit(guard->worker->process);
                }
                return G_SOURCE_REMOVE;
            },
            new Guard{w.get(), w->generation}, [](gpointer d) { delete static_cast<Guard*>(d); });
    }
}

void EnginePool::finish(Worker& w, WorkerAnswer answer) {
    if (w.guard) g_source_remove(w.guard);
    w.guard = 0;
    auto job = std::move(w.job);
    w.job.reset();
    if (answer.last) {
        w.retiring = true;
        w.lost = answer.lost;
        w.ready = false;
    }
    if (job) {
        answer.id = job->task.id;
        job->done(answer);
    }
    dispatch(*w.group);
}


void EnginePool::drain(const std::string& message) {
    draining_ = true;
    failQueued(Status::Interrupted, message);
    for (auto& [scale, g] : groups_)
        for (auto& w : g->workers) {
            if (w->retry) g_source_remove(w->retry);
            w->retry = 0;
        }
}

void EnginePool::interrupt() {
    interrupted_ = true;
    failQueued(Status::Interrupted, tr("interrupted"));
    for (auto& [scale, g] : groups_)
        for (auto& w : g->workers) {
            if (w->retry) g_source_remove(w->retry);
            w->retry = 0;
            if (w->process) g_subprocess_send_signal(w->process, SIGTERM);
        }
}

void EnginePool::stop(int ms) {
    if (stopping_ && ms > 0) return;
    stopping_ = true;
    for (auto& [scale, g] : groups_)
        for (auto& w : g->workers) {
            if (w->retry) g_source_remove(w->retry);
            w->retry = 0;
            if (w->process) g_output_stream_close(w->in, nullptr, nullptr);
        }
    auto running = [this] {
        for (auto& [scale, g] : groups_)
            for (auto& w : g->workers)
                if (w->process) return true;
        return false;
    };
    // Each worker ends when its input does; its end is heard from the main loop.
    turnLoopUntil([&] { return !running(); }, ms);
    for (auto& [scale, g] : groups_)
        for (auto& w : g->workers) {
            if (!w->process) continue;
            g_subprocess_force_exit(w->process);
            g_subprocess_wait(w->process, nullptr, nullptr);
            g_clear_object(&w->out);
            g_clear_object(&w->process);
        }
}


}  // namespace shot
