#include "service/BatchClient.h"

#include <json-glib/json-glib.h>
#include <libsoup/soup.h>

#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <thread>

#include "capture/AtomicFile.h"
#include "service/Request.h"
#include "shot/Index.h"
#include "shot/Loop.h"
#include "shot/Messages.h"
#include "shot/RequestJson.h"

namespace service {

using shot::format;
using shot::tr;

std::string fieldsFor(const shot::Options& o, const std::string& address, capture::Format kind) {
    std::map<std::string, shot::OptionName> options;
    for (const auto& n : shot::optionTable()) options[n.name] = n;
    std::map<std::string, std::vector<std::string>> values;
    for (const auto& [name, value] : o.given)
        if (!commandOnly().count(name) && options.count(name)) values[name].push_back(value);
    JsonBuilder* b = json_builder_new();
    json_builder_begin_object(b);
    json_builder_set_member_name(b, "url");
    json_builder_add_string_value(b, address.c_str());
    json_builder_set_member_name(b, "format");
    json_builder_add_string_value(b, capture::formatExtension(kind) + 1);
    for (const auto& [name, list] : values) {
        const auto& option = options[name];
        json_builder_set_member_name(b, name.c_str());
        if (!option.takesValue) {
            json_builder_add_boolean_value(b, TRUE);
        } else if (option.repeatable) {
            json_builder_begin_array(b);
            for (const auto& v : list) json_builder_add_string_value(b, v.c_str());
            json_builder_end_array(b);
        } else {
            json_builder_add_string_value(b, list.back().c_str());
        }
    }
    json_builder_end_object(b);
    return shot::builtText(b);
}

namespace {

constexpr int kConnectionTries = 5;

struct Asking;

struct Client {
    const shot::Options& o;
    shot::Ledger& ledger;
    const std::atomic<bool>& interrupted;
    SoupSession* session;
    std::string token;
    std::size_t running = 0;
    GCancellable* cancel = g_cancellable_new();  // cancelled when the batch is interrupted
    std::set<Asking*> waiting{};  // to be asked again later
};

struct Asking {
    Client* client;
    std::size_t page;
    int failedConnections = 0;
    gint64 since = g_get_monotonic_time();  // first asked
    guint timer = 0;                        // while it waits to be asked again
};

// The time a page took, for what the service did not time itself (an interruption, a
// connection that failed).
long millisecondsSince(const Asking& a) { return static_cast<long>((g_get_monotonic_time() - a.since) / 1000); }

void ask(std::unique_ptr<Asking> a);

// What the service said of a page that it did not photograph.
shot::PageReport failure(const std::string& status, const std::string& message) {
    shot::PageReport r;
    r.status = shot::statusForName(status).value_or(shot::Status::LoadFailed);
    r.message = message;
    return r;
}

void answered(GObject* source, GAsyncResult* result, gpointer data) {
    std::unique_ptr<Asking> a(static_cast<Asking*>(data));
    Client& c = *a->client;
    SoupMessage* msg = soup_session_get_async_result_message(SOUP_SESSION(source), result);
    GError* e = nullptr;
    GBytes* body = soup_session_send_and_read_finish(SOUP_SESSION(source), result, &e);
    const auto& page = c.ledger.pages()[a->page];
    auto later = [&](guint ms) {
        Asking* waiting = a.release();
        c.waiting.insert(waiting);
        waiting->timer = g_timeout_add_full(G_PRIORITY_DEFAULT, ms, [](gpointer d) -> gboolean {
            auto* waited = static_cast<Asking*>(d);
            waited->timer = 0;
            waited->client->waiting.erase(waited);
            ask(std::unique_ptr<Asking>(waited));
            return G_SOURCE_REMOVE;
        }, waiting, nullptr);
    };
    shot::PageReport report;
    if (!body && g_error_matches(e, G_IO_ERROR, G_IO_ERROR_CANCELLED)) {
        // The batch was interrupted: the service hears its caller leave, and stops the page.
        report = failure("interrupted", tr("interrupted"));
        g_error_free(e);
    } else if (!body) {
        // A connection that failed is tried again, a little later each time.
        if (++a->failedConnections < kConnectionTries && !c.interrupted) {
            later(static_cast<guint>(250 << a->failedConnections));
            g_error_free(e);
            return;
        }
        report = failure("load-failed", format(tr("the service at %s did not answer: %s"), c.o.service.c_str(), e->message));
        g_error_free(e);
    } else {
        const guint status = soup_message_get_status(msg);
        auto* headers = soup_message_get_response_headers(msg);
        gsize size = 0;
        const auto* bytes = static_cast<const char*>(g_bytes_get_data(body, &size));
        // Turned away, a page is asked again after the Retry-After, for as long as its
        // time limit; then it fails with the service's reason.
        const long left = c.o.timeoutS * 1000L - millisecondsSince(*a);
        if (status == 503 && !c.interrupted && left > 0) {
            const char* retry = soup_message_headers_get_one(headers, "Retry-After");
            const long seconds = retry ? std::max(1, std::min(60, std::atoi(retry))) : 1;
            g_bytes_unref(body);
            later(static_cast<guint>(std::min(seconds * 1000, left)));
            return;
        }
        // What the service says of the page, with its picture or its error alike.
        const char* said = soup_message_headers_get_one(headers, "Vemo-Report");
        gchar* text = said ? g_uri_unescape_string(said, nullptr) : nullptr;
        JsonNode* told = text ? json_from_string(text, nullptr) : nullptr;
        if (auto r = told ? shot::reportFromJson(told) : std::nullopt) report = *r;
        if (told) json_node_unref(told);
        g_free(text);
        if (status == 200) {
            if (!said) report.status = shot::Status::Ok;
            // Written as a local picture is: complete, or not at all.
            const auto error = capture::writeAtomically(page.path, [&](int fd) { return capture::writeAll(fd, bytes, size); });
            if (error) report = failure("write-failed", error.message());
            else report.file = page.path;
            // The contact sheet's small picture, from the file as it came; one that cannot
            // be written is said, as a local page's is.
            if (!error && c.o.index && page.format == capture::Format::Pdf)
                shot::sayThumbnailFailure(shot::writeFirstPageThumbnail(page.path), report.message);
            else if (!error && c.o.index)
                shot::sayThumbnailFailure(shot::writeThumbnail(reinterpret_cast<const std::uint8_t*>(bytes), size, page.path),
                                          report.message);
        } else {
            JsonNode* node = json_from_string(std::string(bytes ? bytes : "", size).c_str(), nullptr);
            JsonObject* o = node && JSON_NODE_HOLDS_OBJECT(node) ? json_node_get_object(node) : nullptr;
            const auto answered = failure(o ? json_object_get_string_member_with_default(o, "status", "load-failed") : "load-failed",
                                          o ? json_object_get_string_member_with_default(o, "message", "")
                                            : format(tr("the service answered %u"), status));
            // The body's report is whole; the header's has its long texts cut.
            JsonNode* whole = o && json_object_has_member(o, "report") ? json_object_get_member(o, "report") : nullptr;
            if (auto r = whole ? shot::reportFromJson(whole) : std::nullopt) report = *r;
            else if (!said) report = answered;
            report.file.clear();
            if (status == 503 && !c.interrupted)
                report.message = format(tr("the service turned the page away for %ld s: %s"),
                                        millisecondsSince(*a) / 1000, report.message.c_str());
            if (node) json_node_unref(node);
        }
        g_bytes_unref(body);
    }
    report.address = page.address;
    if (report.milliseconds == 0) report.milliseconds = millisecondsSince(*a);
    --c.running;
    c.ledger.finish(a->page, std::move(report));
}

void ask(std::unique_ptr<Asking> a) {
    Client& c = *a->client;
    const auto& page = c.ledger.pages()[a->page];
    if (g_cancellable_is_cancelled(c.cancel)) {  // a page that waited to be asked again
        auto report = failure("interrupted", tr("interrupted"));
        report.address = page.address;
        report.milliseconds = millisecondsSince(*a);
        --c.running;
        c.ledger.finish(a->page, std::move(report));
        return;
    }
    SoupMessage* msg = soup_message_new(SOUP_METHOD_POST, (c.o.service + "/shot").c_str());
    const std::string fields = fieldsFor(c.o, page.address, page.format);
    GBytes* body = g_bytes_new(fields.data(), fields.size());
    soup_message_set_request_body_from_bytes(msg, "application/json", body);
    g_bytes_unref(body);
    if (!c.token.empty())
        soup_message_headers_replace(soup_message_get_request_headers(msg), "Authorization", ("Bearer " + c.token).c_str());
    soup_session_send_and_read_async(c.session, msg, G_PRIORITY_DEFAULT, c.cancel, &answered, a.release());
    g_object_unref(msg);
}

}  // namespace

std::function<void(shot::Ledger&)> batchThroughService(const shot::Options& o, const std::atomic<bool>& interrupted) {
    return [&o, &interrupted](shot::Ledger& ledger) {
        const int jobs = o.jobs > 0 ? o.jobs : static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
        Client c{o, ledger, interrupted, soup_session_new_with_options("timeout", 0, "max-conns-per-host", jobs, nullptr), {}};
        if (!o.tokenFile.empty()) {
            std::ifstream in(o.tokenFile);
            std::getline(in, c.token);
            while (!c.token.empty() && g_ascii_isspace(c.token.back())) c.token.pop_back();
        }
        std::size_t next = 0;
        auto start = [&] {
            while (!interrupted && c.running < static_cast<std::size_t>(jobs) && next < ledger.pages().size()) {
                const std::size_t i = next++;
                if (ledger.writtenBefore(i)) continue;
                ledger.begin(i);
                ++c.running;
                ask(std::make_unique<Asking>(Asking{&c, i, 0}));
            }
        };
        // Interrupted, the pages under way stop at once, as local ones do, and those
        // waiting to be asked again are not waited for.
        shot::turnLoopUntil([&] {
            if (interrupted && !g_cancellable_is_cancelled(c.cancel)) {
                g_cancellable_cancel(c.cancel);
                const auto waiting = std::move(c.waiting);
                c.waiting.clear();
                for (Asking* w : waiting) {
                    g_source_remove(w->timer);
                    ask(std::unique_ptr<Asking>(w));
                }
            }
            start();
            return c.running == 0;
        });
        g_object_unref(c.cancel);
        g_object_unref(c.session);
    };
}

}  // namespace service
