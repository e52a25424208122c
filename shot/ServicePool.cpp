#include "shot/ServicePool.h"


namespace shot {

struct ServicePool::Worker {
    ServicePool* pool = nullptr;
    GSubprocess* process = nullptr;
    GOutputStream* in = nullptr;
    GDataInputStream* out = nullptr;
    unsigned generation = 0;  // grows with each process: late words of an old one are not heard
    std::shared_ptr<Job> job;
    guint guard = 0;
    bool overdue = false;
};

namespace {

struct Call {
    ServicePool::Worker* worker;
    unsigned generation;
    std::shared_ptr<bool> alive;
};

WorkerAnswer failure(const char* status, const char* message) { return {status, 0, 0, 0, {}, message}; }

}  // namespace

ServicePool::ServicePool(std::vector<std::string> workerCommand, int workers, Done done, std::function<void()> restarted)
    : command_(std::move(workerCommand)), done_(std::move(done)), restarted_(std::move(restarted)) {
    for (int i = 0; i < workers; ++i) {
        workers_.push_back(std::make_unique<Worker>());
        workers_.back()->pool = this;
        spawn(*workers_.back());
    }
}

ServicePool::~ServicePool() {
    *alive_ = false;
    stop(0);
}

void ServicePool::spawn(Worker& w) {
    std::vector<const gchar*> argv;
    for (const auto& a : command_) argv.push_back(a.c_str());
    argv.push_back(nullptr);
    GError* error = nullptr;
    w.process = g_subprocess_newv(argv.data(), static_cast<GSubprocessFlags>(G_SUBPROCESS_FLAGS_STDIN_PIPE |
                                                                             G_SUBPROCESS_FLAGS_STDOUT_PIPE),
                                  &error);
    ++w.generation;
    if (!w.process) {
        g_printerr("vemo-shot: an engine could not start: %s\n", error->message);
        g_error_free(error);
        return;
    }
    w.in = g_subprocess_get_stdin_pipe(w.process);
    w.out = g_data_input_stream_new(g_subprocess_get_stdout_pipe(w.process));
    g_subprocess_wait_async(w.process, nullptr, &ServicePool::exited, new Call{&w, w.generation, alive_});
}

std::size_t ServicePool::busy() const {
    std::size_t n = 0;
    for (const auto& w : workers_) n += w->job != nullptr;
    return n;
}

std::size_t ServicePool::alive() const {
    std::size_t n = 0;
    for (const auto& w : workers_) n += w->process != nullptr;
    return n;
}

bool ServicePool::submit(std::shared_ptr<Job> job, std::size_t limit) {
    const bool idle = busy() < alive();
    if (!idle && queue_.size() >= limit) return false;
    queue_.push_back(std::move(job));
    dispatch();
    return true;
}

void ServicePool::failQueued(const WorkerAnswer& answer) {
    auto queue = std::move(queue_);
    queue_.clear();
    for (auto& job : queue) done_(job, answer);
}

void ServicePool::dispatch() {
    for (auto& w : workers_) {
        while (!queue_.empty() && queue_.front()->gone) queue_.pop_front();
        if (queue_.empty() || stopping_) return;
        if (w->job || !w->process) continue;
        w->job = queue_.front();
        queue_.pop_front();
        w->overdue = false;
        const std::string line = requestLine(w->job->args);
        GError* error = nullptr;
        if (!g_output_stream_write_all(w->in, line.data(), line.size(), nullptr, nullptr, &error)) {
            g_error_free(error);
            g_subprocess_force_exit(w->process);  // its end answers the job
            continue;
        }
        g_data_input_stream_read_line_async(w->out, G_PRIORITY_DEFAULT, nullptr, &ServicePool::lineRead,
                                            new Call{w.get(), w->generation, alive_});
        // The engine keeps the page's time limit; a worker that does not is ended.
        struct Guard {
            Worker* worker;
            unsigned generation;
        };
        w->guard = g_timeout_add_seconds_full(
            G_PRIORITY_DEFAULT, static_cast<guint>(w->job->timeoutS + 15),
            [](gpointer d) -> gboolean {
                auto* g = static_cast<Guard*>(d);
                if (g->worker->generation == g->generation && g->worker->process) {
                    g->worker->overdue = true;
                    g->worker->guard = 0;
                    g_subprocess_force_exit(g->worker->process);
                }
                return G_SOURCE_REMOVE;
            },
            new Guard{w.get(), w->generation}, [](gpointer d) { delete static_cast<Guard*>(d); });
    }
}

void ServicePool::finish(Worker& w, const WorkerAnswer& answer) {
    if (w.guard) g_source_remove(w.guard);
    w.guard = 0;
    auto job = std::move(w.job);
    w.job.reset();
    if (job) done_(job, answer);
    dispatch();
}

void ServicePool::lineRead(GObject* source, GAsyncResult* result, gpointer data) {
    std::unique_ptr<Call> call(static_cast<Call*>(data));
    gsize length = 0;
    gchar* line = g_data_input_stream_read_line_finish(G_DATA_INPUT_STREAM(source), result, &length, nullptr);
    if (!*call->alive || call->worker->generation != call->generation || !line) {
        g_free(line);
        return;  // a worker that ended: its end answers the job
    }
    WorkerAnswer answer;
    if (!parseAnswer(line, answer)) answer = failure("internal", "the engine gave an answer that cannot be read");
    g_free(line);
    call->worker->pool->finish(*call->worker, answer);
}

void ServicePool::exited(GObject* source, GAsyncResult* result, gpointer data) {
    std::unique_ptr<Call> call(static_cast<Call*>(data));
    g_subprocess_wait_finish(G_SUBPROCESS(source), result, nullptr);
    if (!*call->alive || call->worker->generation != call->generation) return;
    Worker& w = *call->worker;
    ServicePool& pool = *w.pool;
    g_clear_object(&w.out);
    g_clear_object(&w.process);
    w.in = nullptr;
    if (pool.stopping_) return;
    pool.restarted_();
    pool.spawn(w);
    pool.finish(w, w.overdue ? failure("timed-out", "the page did not answer in time")
                              : failure("internal", "the engine ended unexpectedly"));
}

void ServicePool::stop(int ms) {
    if (stopping_ && ms > 0) return;
    stopping_ = true;
    for (auto& w : workers_)
        if (w->process) g_output_stream_close(w->in, nullptr, nullptr);
    // Each worker ends when its input does; its end is heard from the main loop.
    const gint64 until = g_get_monotonic_time() + static_cast<gint64>(ms) * 1000;
    const guint wake = g_timeout_add(20, [](gpointer) -> gboolean { return G_SOURCE_CONTINUE; }, nullptr);
    while (*alive_ && alive() > 0 && g_get_monotonic_time() < until) g_main_context_iteration(nullptr, TRUE);
    g_source_remove(wake);
    for (auto& w : workers_) {
        if (!w->process) continue;
        g_subprocess_force_exit(w->process);
        g_subprocess_wait(w->process, nullptr, nullptr);
        g_clear_object(&w->out);
        g_clear_object(&w->process);
    }
}

}  // namespace shot
