#include "shot/EnginePool.h"

#include <algorithm>

namespace shot {

struct EnginePool::Worker {
    EnginePool* pool = nullptr;
    Group* group = nullptr;
    GSubprocess* process = nullptr;
    GOutputStream* in = nullptr;
    GDataInputStream* out = nullptr;
    unsigned generation = 0;  // grows with each process: late words of an old one are not heard
    bool ready = false;       // its engine is up
    std::shared_ptr<EngineJob> job;
    guint guard = 0, retry = 0;
    bool overdue = false, cancelled = false;
    // Its end is heard twice: its answers' channel closes once every answer is read,
    // and the process is reaped. The second of the two ends it here.
    bool eof = false, reaped = false;
    bool retiring = false;  // it said its last answer: it ends by itself, and is replaced
    guint drain = 0;
};

struct EnginePool::Group {
    int scale = 1;
    std::vector<std::unique_ptr<Worker>> workers;
    std::deque<std::shared_ptr<EngineJob>> queue;
    int failures = 0;  // starts that failed in a row
    bool unavailable() const {
        return failures > 0 && std::none_of(workers.begin(), workers.end(), [](const auto& w) { return w->ready; });
    }
};

namespace {

struct Call {
    EnginePool::Worker* worker;
    unsigned generation;
    std::shared_ptr<bool> alive;
};

WorkerAnswer failure(unsigned long id, const char* status, const std::string& message) {
    WorkerAnswer a;
    a.id = id;
    a.status = status;
    a.report.status = statusForName(status).value_or(Status::LoadFailed);
    a.report.message = message;
    return a;
}

constexpr int kGraceS = 15;  // a worker keeps its task's time limit; this much past it, it is ended

}  // namespace

std::string printable(const std::string& text, std::size_t longest) {
    std::string out;
    for (unsigned char c : text.substr(0, longest)) {
        if (c < 0x20 || c == 0x7f) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02x", c);
            out += hex;
        } else {
            out += static_cast<char>(c);
        }
    }
    return text.size() > longest ? out + "..." : out;
}

EnginePool::EnginePool(std::vector<std::string> command, int enginesPerScale, std::function<void()> restarted)
    : command_(std::move(command)), engines_(std::max(1, enginesPerScale)), restarted_(std::move(restarted)) {
    group(1);
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

void EnginePool::spawn(Worker& w) {
    w.retry = 0;
    if (stopping_) return;
    std::vector<std::string> args = command_;
    args.push_back("--scale=" + std::to_string(w.group->scale));
    std::vector<const gchar*> argv;
    for (const auto& a : args) argv.push_back(a.c_str());
    argv.push_back(nullptr);
    GError* error = nullptr;
    w.process = g_subprocess_newv(argv.data(), static_cast<GSubprocessFlags>(G_SUBPROCESS_FLAGS_STDIN_PIPE |
                                                                             G_SUBPROCESS_FLAGS_STDOUT_PIPE), &error);
    ++w.generation;
    w.ready = w.eof = w.reaped = false;
    if (!w.process) {
        g_printerr("vemo-shot: an engine could not start: %s\n", error->message);
        g_error_free(error);
        ended(w);
        return;
    }
    w.in = g_subprocess_get_stdin_pipe(w.process);
    w.out = g_data_input_stream_new(g_subprocess_get_stdout_pipe(w.process));
    g_data_input_stream_read_line_async(w.out, G_PRIORITY_DEFAULT, nullptr, &EnginePool::lineRead,
                                        new Call{&w, w.generation, alive_});
    g_subprocess_wait_async(w.process, nullptr, &EnginePool::exited, new Call{&w, w.generation, alive_});
}

bool EnginePool::ready() const {
    const auto it = groups_.find(1);
    return !stopping_ && it != groups_.end() &&
           std::any_of(it->second->workers.begin(), it->second->workers.end(), [](const auto& w) { return w->ready; });
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
    if (g.unavailable()) return Submitted::Unavailable;
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
            job->done(failure(job->task.id, "interrupted", "cancelled"));
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

void EnginePool::failQueued(const std::string& status, const std::string& message) {
    for (auto& [scale, g] : groups_) {
        auto queue = std::move(g->queue);
        g->queue.clear();
        for (auto& job : queue) job->done(failure(job->task.id, status.c_str(), message));
    }
}

void EnginePool::dispatch(Group& g) {
    if (g.unavailable()) {
        auto queue = std::move(g.queue);
        g.queue.clear();
        for (auto& job : queue) job->done(failure(job->task.id, "unavailable", "no engine could be started"));
        return;
    }
    for (auto& w : g.workers) {
        if (g.queue.empty() || stopping_) return;
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
        w.ready = false;
    }
    if (job) {
        answer.id = job->task.id;
        job->done(answer);
    }
    dispatch(*w.group);
}

void EnginePool::heard(Worker& w, const std::string& line) {
    if (!w.ready && isReadyLine(line)) {
        w.ready = true;
        w.group->failures = 0;
        dispatch(*w.group);
        return;
    }
    const auto answer = parseAnswer(line);
    if (!answer || !w.job || answer->id != w.job->task.id) {
        g_printerr("vemo-shot: an engine said what nobody asked for, ignored: %s\n", printable(line).c_str());
        return;
    }
    finish(w, *answer);
}

void EnginePool::lineRead(GObject* source, GAsyncResult* result, gpointer data) {
    std::unique_ptr<Call> call(static_cast<Call*>(data));
    gsize length = 0;
    gchar* line = g_data_input_stream_read_line_finish(G_DATA_INPUT_STREAM(source), result, &length, nullptr);
    if (!*call->alive || call->worker->generation != call->generation) {
        g_free(line);
        return;  // a worker replaced since
    }
    Worker& w = *call->worker;
    if (!line) {
        w.eof = true;
        if (w.reaped) w.pool->ended(w);
        return;
    }
    const std::string text(line, length);
    g_free(line);
    g_data_input_stream_read_line_async(w.out, G_PRIORITY_DEFAULT, nullptr, &EnginePool::lineRead, call.release());
    w.pool->heard(w, text);
}

void EnginePool::exited(GObject* source, GAsyncResult* result, gpointer data) {
    std::unique_ptr<Call> call(static_cast<Call*>(data));
    g_subprocess_wait_finish(G_SUBPROCESS(source), result, nullptr);
    if (!*call->alive || call->worker->generation != call->generation) return;
    Worker& w = *call->worker;
    w.reaped = true;
    if (w.eof) return w.pool->ended(w);
    // A process of its own that holds the channel open keeps it from closing: not for long.
    struct Late {
        Worker* worker;
        unsigned generation;
    };
    w.drain = g_timeout_add_full(G_PRIORITY_DEFAULT, 2000, [](gpointer d) -> gboolean {
        auto* late = static_cast<Late*>(d);
        late->worker->drain = 0;
        if (late->worker->generation == late->generation && !late->worker->eof) late->worker->pool->ended(*late->worker);
        return G_SOURCE_REMOVE;
    }, new Late{&w, w.generation}, [](gpointer d) { delete static_cast<Late*>(d); });
}

void EnginePool::ended(Worker& w) {
    if (w.drain) g_source_remove(w.drain);
    w.drain = 0;
    ++w.generation;  // nothing more of this process is heard
    const bool wasReady = w.ready || w.retiring;
    w.ready = w.retiring = false;
    g_clear_object(&w.out);
    g_clear_object(&w.process);
    w.in = nullptr;
    if (stopping_) {
        if (w.job) finish(w, failure(0, "interrupted", "the engines are stopping"));
        return;
    }
    Group& g = *w.group;
    if (wasReady) {
        if (restarted_) restarted_();
        spawn(w);
    } else {
        // It could not start: tried again later and later, up to half a minute apart.
        ++g.failures;
        const guint ms = static_cast<guint>(std::min(30000, 250 << std::min(g.failures, 7)));
        w.retry = g_timeout_add_full(G_PRIORITY_DEFAULT, ms, [](gpointer d) -> gboolean {
            auto* worker = static_cast<Worker*>(d);
            worker->pool->spawn(*worker);
            return G_SOURCE_REMOVE;
        }, &w, nullptr);
    }
    if (w.job) {
        finish(w, w.overdue     ? failure(0, "timed-out", "the page did not answer in time")
                  : w.cancelled ? failure(0, "interrupted", "cancelled")
                                : failure(0, "internal", "the engine ended unexpectedly"));
    } else {
        dispatch(g);
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
    const gint64 until = g_get_monotonic_time() + static_cast<gint64>(ms) * 1000;
    const guint wake = g_timeout_add(20, [](gpointer) -> gboolean { return G_SOURCE_CONTINUE; }, nullptr);
    while (running() && g_get_monotonic_time() < until) g_main_context_iteration(nullptr, TRUE);
    g_source_remove(wake);
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
