// A worker's side of the pipe: its tasks read, each photographed and answered, and the
// engine's fatal word about a page answered as that page's failure.
#include <fcntl.h>
#include <glib-unix.h>
#include <unistd.h>

#include <cstring>
#include <iostream>

#include "shot/PageFile.h"
#include "shot/Run.h"
#include "shot/Worker.h"

namespace shot {

namespace {

// Whether standard input has something to read (or has ended), waiting on the main
// loop so that signals are heard meanwhile.
bool awaitInput(const std::atomic<bool>& interrupted) {
    bool readable = false;
    const guint watch = g_unix_fd_add(0, static_cast<GIOCondition>(G_IO_IN | G_IO_HUP | G_IO_ERR),
                                      [](gint, GIOCondition, gpointer d) -> gboolean {
                                          *static_cast<bool*>(d) = true;
                                          return G_SOURCE_REMOVE;
                                      }, &readable);
    while (!readable && !interrupted) g_main_context_iteration(nullptr, TRUE);
    if (!readable) g_source_remove(watch);
    return readable && !interrupted;
}

void say(int channel, const std::string& line) {
    for (std::size_t at = 0; at < line.size();) {
        const ssize_t n = ::write(channel, line.data() + at, line.size() - at);
        if (n <= 0 && errno != EINTR) return;
        if (n > 0) at += static_cast<std::size_t>(n);
    }
}

// The page in hand, for the engine's fatal word about it.
struct InHand {
    int channel = -1;
    std::optional<WorkerAnswer> answer;
};

// The engine aborts its own process when a web process it starts ends before it has
// said who it is (killed, or crashed at once): the worker cannot go on, but its page's
// failure is that page's, and is answered so before the worker ends. The pool replaces it.
GLogWriterOutput lastWords(GLogLevelFlags level, const GLogField* fields, gsize count, gpointer data) {
    const auto* hand = static_cast<const InHand*>(data);
    const char* message = "";
    for (gsize i = 0; i < count; ++i)
        if (std::strcmp(fields[i].key, "MESSAGE") == 0 && fields[i].length < 0) message = static_cast<const char*>(fields[i].value);
    if (!(level & G_LOG_LEVEL_ERROR) || !hand->answer || !std::strstr(message, "auxiliary process crashed"))
        return g_log_writer_default(level, fields, count, nullptr);
    gchar* said = g_log_writer_format_fields(level, fields, count, FALSE);
    g_printerr("%s\n", said);
    g_free(said);
    WorkerAnswer a = *hand->answer;
    engine::ShotResult crashed;
    crashed.outcome = engine::ShotResult::Outcome::LoadFailed;
    crashed.failure = {engine::LoadError::Crashed, {}};
    const auto shot = describe(crashed);
    a.report.status = shot.status;
    a.report.message = shot.message;
    a.last = a.lost = true;
    say(hand->channel, answerLine(a));
    ::_exit(static_cast<int>(exitFor(shot.status)));
}

}  // namespace

int takeAnswerChannel() {
    const int channel = ::fcntl(1, F_DUPFD_CLOEXEC, 3);
    ::dup2(2, 1);
    return channel;
}

void serveAsWorker(engine::IShotEngine& engine, int channel, const std::atomic<bool>& interrupted) {
    // Lives as long as the process: the engine may speak its last word at any time.
    auto* hand = new InHand{channel, std::nullopt};
    g_log_set_writer_func(&lastWords, hand, nullptr);
    say(channel, "{\"ready\":true}\n");
    std::string line;
    while (awaitInput(interrupted) && std::getline(std::cin, line)) {
        std::string why;
        const auto task = parseTask(line, why);
        if (!task) {
            g_printerr("vemo-shot: a task that cannot be read: %s\n", why.c_str());
            continue;
        }
        WorkerAnswer pending;
        pending.id = task->id;
        pending.report.address = task->request.address;
        hand->answer = pending;
        if (task->fresh) engine.forgetVisits();
        // A worker that gave a login ends, and a new one takes its place.
        const auto a = doTask(engine, *task);
        hand->answer.reset();
        say(channel, answerLine(a));
        if (a.last) break;
    }
    if (channel >= 0) ::close(channel);
}

}  // namespace shot
