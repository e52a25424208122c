// The lives of the pool's worker processes: started, heard (their word that they are
// up, their answers, and what else they say), and ended, replaced or tried again later.
#include <unistd.h>

#include <cstdio>
#include <memory>

#include "shot/EnginePoolState.h"
#include "shot/Messages.h"

namespace shot {

using pool::Call;
using pool::failure;

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

void EnginePool::spawn(Worker& w) {
    w.retry = 0;
    if (stopping_ || interrupted_ || draining_) return;
    std::vector<std::string> args = command_;
    args.push_back("--scale=" + std::to_string(w.group->scale));
    std::vector<const gchar*> argv;
    for (const auto& a : args) argv.push_back(a.c_str());
    argv.push_back(nullptr);
    GError* error = nullptr;
    GSubprocessLauncher* launcher = g_subprocess_launcher_new(
        static_cast<GSubprocessFlags>(G_SUBPROCESS_FLAGS_STDIN_PIPE | G_SUBPROCESS_FLAGS_STDOUT_PIPE));
    // A process group of its own: the Ctrl+C of a terminal reaches this program alone,
    // which says what its engines do (a service finishes the pages under way).
    g_subprocess_launcher_set_child_setup(launcher, [](gpointer) { ::setpgid(0, 0); }, nullptr, nullptr);
    w.process = g_subprocess_launcher_spawnv(launcher, argv.data(), &error);
    g_object_unref(launcher);
    ++w.generation;
    w.ready = w.eof = w.reaped = false;
    if (!w.process) {
        g_printerr("vemo-shot: an engine could not start: %s\n", error->message);
        w.how = error->message;
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
    auto* process = G_SUBPROCESS(source);
    const bool waited = g_subprocess_wait_finish(process, result, nullptr);
    if (!*call->alive || call->worker->generation != call->generation) return;
    Worker& w = *call->worker;
    w.reaped = true;
    if (waited && g_subprocess_get_if_exited(process))
        w.how = format(tr("its process ended with exit status %d"), g_subprocess_get_exit_status(process));
    else if (waited && g_subprocess_get_if_signaled(process))
        w.how = format(tr("its process was ended by signal %d"), g_subprocess_get_term_sig(process));
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
    const Replaced why = w.retiring && !w.lost ? Replaced::AfterLogin
                         : w.cancelled             ? Replaced::ClientLeft
                                                   : Replaced::Failed;
    w.ready = w.retiring = w.lost = false;
    g_clear_object(&w.out);
    g_clear_object(&w.process);
    w.in = nullptr;
    if (stopping_ || interrupted_) {
        if (w.job) finish(w, failure(0, TaskEnd::Page, Status::Interrupted, tr("the engines are stopping")));
        return;
    }
    Group& g = *w.group;
    if (draining_) {
        // Its engine is not replaced: the pool only finishes what it has under way.
    } else if (wasReady) {
        if (replaced_) replaced_(why);
        spawn(w);
    } else {
        // It could not start: tried again later and later, up to half a minute apart.
        ++g.failures;
        g.why = w.how;
        const guint ms = static_cast<guint>(std::min(30000, 250 << std::min(g.failures, 7)));
        w.retry = g_timeout_add_full(G_PRIORITY_DEFAULT, ms, [](gpointer d) -> gboolean {
            auto* worker = static_cast<Worker*>(d);
            worker->pool->spawn(*worker);
            return G_SOURCE_REMOVE;
        }, &w, nullptr);
    }
    if (w.job) {
        finish(w, w.overdue     ? failure(0, TaskEnd::Page, Status::TimedOut, tr("the page did not answer in time"))
                  : w.cancelled ? failure(0, TaskEnd::Page, Status::Interrupted, tr("cancelled"))
                                : failure(0, TaskEnd::EngineLost, Status::LoadFailed,
                                          format(tr("the engine ended unexpectedly: %s"), w.how.c_str())));
    } else {
        dispatch(g);
    }
}


}  // namespace shot
