#include "shot/Worker.h"

#include <fcntl.h>
#include <glib-unix.h>
#include <poll.h>
#include <unistd.h>

#include <cstring>
#include <iostream>
#include <memory>

#include "shot/Messages.h"
#include "shot/RequestJson.h"
#include "shot/PageFile.h"
#include "shot/Run.h"

namespace shot {

namespace {

struct Node {
    JsonNode* node;
    explicit Node(JsonNode* n) : node(n) {}
    ~Node() {
        if (node) json_node_unref(node);
    }
    JsonObject* object() const { return node && JSON_NODE_HOLDS_OBJECT(node) ? json_node_get_object(node) : nullptr; }
};

std::string text(JsonObject* o, const char* name) {
    const char* s = json_object_has_member(o, name) ? json_object_get_string_member_with_default(o, name, "") : "";
    return s ? s : "";
}

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

std::string taskLine(const WorkerTask& t) {
    JsonBuilder* b = json_builder_new();
    json_builder_begin_object(b);
    json_builder_set_member_name(b, "id");
    json_builder_add_int_value(b, static_cast<gint64>(t.id));
    json_builder_set_member_name(b, "path");
    json_builder_add_string_value(b, t.path.c_str());
    json_builder_set_member_name(b, "thumbnail");
    json_builder_add_boolean_value(b, t.thumbnail);
    json_builder_set_member_name(b, "fresh");
    json_builder_add_boolean_value(b, t.fresh);
    json_builder_set_member_name(b, "request");
    json_builder_add_value(b, requestToJson(t.request));
    json_builder_end_object(b);
    return builtText(b) + "\n";
}

std::optional<WorkerTask> parseTask(const std::string& line, std::string& why) {
    Node root(parseJson(line));
    JsonObject* o = root.object();
    if (!o || !json_object_has_member(o, "id") || !json_object_has_member(o, "request")) {
        why = "a task is a JSON object with an id and a request";
        return std::nullopt;
    }
    WorkerTask t;
    t.id = static_cast<unsigned long>(json_object_get_int_member(o, "id"));
    t.path = text(o, "path");
    t.thumbnail = json_object_get_boolean_member_with_default(o, "thumbnail", FALSE);
    t.fresh = json_object_get_boolean_member_with_default(o, "fresh", TRUE);
    const auto request = requestFromJson(json_object_get_member(o, "request"), why);
    if (!request) return std::nullopt;
    t.request = *request;
    return t;
}

std::string answerLine(const WorkerAnswer& a) {
    JsonBuilder* b = json_builder_new();
    json_builder_begin_object(b);
    json_builder_set_member_name(b, "id");
    json_builder_add_int_value(b, static_cast<gint64>(a.id));
    json_builder_set_member_name(b, "status");
    json_builder_add_string_value(b, statusName(a.report.status));
    json_builder_set_member_name(b, "report");
    json_builder_add_value(b, reportToJson(a.report));
    json_builder_set_member_name(b, "last");
    json_builder_add_boolean_value(b, a.last);
    json_builder_set_member_name(b, "lost");
    json_builder_add_boolean_value(b, a.lost);
    json_builder_end_object(b);
    return builtText(b) + "\n";
}

std::optional<WorkerAnswer> parseAnswer(const std::string& line) {
    Node root(parseJson(line));
    JsonObject* o = root.object();
    if (!o || !json_object_has_member(o, "id") || !json_object_has_member(o, "status")) return std::nullopt;
    WorkerAnswer a;
    a.id = static_cast<unsigned long>(json_object_get_int_member(o, "id"));
    // A page's status the pool does not know is no answer.
    const auto status = statusForName(text(o, "status"));
    if (!status) return std::nullopt;
    a.last = json_object_get_boolean_member_with_default(o, "last", FALSE);
    a.lost = json_object_get_boolean_member_with_default(o, "lost", FALSE);
    if (json_object_has_member(o, "report")) {
        const auto report = reportFromJson(json_object_get_member(o, "report"));
        if (!report) return std::nullopt;
        a.report = *report;
    }
    a.report.status = *status;
    return a;
}

bool isReadyLine(const std::string& line) {
    Node root(parseJson(line));
    JsonObject* o = root.object();
    return o && json_object_get_boolean_member_with_default(o, "ready", FALSE);
}

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
