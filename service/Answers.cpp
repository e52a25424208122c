#include "service/Answers.h"

#include <glib-unix.h>
#include <glib/gstdio.h>
#include <sys/socket.h>

#include <cerrno>

#include "capture/ImageFiles.h"
#include "service/Fields.h"
#include "service/ReportHeaders.h"
#include "shot/Messages.h"

namespace service {

struct Answers::Held {
    SoupServerMessage* msg;
    std::string host;
    capture::Format format;
    gint64 began;
    bool gone = false;
    std::function<void()> released, left;
    guint watch = 0;  // on the client's socket
    bool finished = false;  // the server is done with it
    void leave() {
        if (gone) return;
        gone = true;
        // Its answer may come at once, and take this record with it.
        if (auto then = left) then();
    }
};

namespace {

const char* mediaType(capture::Format f) {
    switch (f) {
        case capture::Format::Png: return "image/png";
        case capture::Format::Jpeg: return "image/jpeg";
        case capture::Format::Bmp: return "image/bmp";
        case capture::Format::Webp: return "image/webp";
        case capture::Format::Pdf: return "application/pdf";
    }
    return "application/octet-stream";
}

}  // namespace

Answers::Answers(Metrics& metrics) : metrics_(metrics) {}

Answers::~Answers() {
    for (auto& [msg, held] : held_) {
        if (held->watch) g_source_remove(held->watch);
        g_signal_handlers_disconnect_by_data(msg, held.get());
        g_object_unref(msg);
    }
}

void Answers::await(SoupServerMessage* msg, GSocket* socket, const std::shared_ptr<shot::EngineJob>& job,
                    gint64 began, std::function<void()> released) {
    const char* host = soup_server_message_get_remote_host(msg);
    auto held = std::make_unique<Held>(Held{msg, host ? host : "-", job->task.request.picture.format, began, false,
                                            std::move(released), {}});
    Held* h = held.get();
    g_object_ref(msg);
    g_signal_connect(msg, "finished", G_CALLBACK(+[](SoupServerMessage*, gpointer d) {
                         static_cast<Held*>(d)->finished = true;
                         static_cast<Held*>(d)->leave();
                     }), h);
    // The server reads nothing more from the client while it waits: a client that
    // closes its end is heard here.
    if (socket)
        h->watch = g_unix_fd_add(g_socket_get_fd(socket), static_cast<GIOCondition>(G_IO_IN | G_IO_HUP | G_IO_ERR),
                                 [](gint fd, GIOCondition, gpointer d) -> gboolean {
                                     auto* held = static_cast<Held*>(d);
                                     char c;
                                     const ssize_t n = ::recv(fd, &c, 1, MSG_PEEK | MSG_DONTWAIT);
                                     if (n < 0 && (errno == EAGAIN || errno == EINTR)) return G_SOURCE_CONTINUE;
                                     held->watch = 0;
                                     if (n <= 0) held->leave();  // closed, or broken
                                     return G_SOURCE_REMOVE;     // or its next request already: heard later
                                 }, h);
    held_[msg] = std::move(held);
    soup_server_message_pause(msg);
    job->done = [this, msg](const shot::WorkerAnswer& a) {
        const auto it = held_.find(msg);
        if (it != held_.end()) answer(*it->second, a);
    };
}

void Answers::onLeft(SoupServerMessage* msg, std::function<void()> left) {
    if (const auto it = held_.find(msg); it != held_.end()) it->second->left = std::move(left);
}

void Answers::forget(Held& h) {
    SoupServerMessage* msg = h.msg;
    if (h.watch) g_source_remove(h.watch);
    h.watch = 0;
    g_signal_handlers_disconnect_by_data(msg, &h);
    auto keep = std::move(held_[msg]);
    held_.erase(msg);
    if (keep->released) keep->released();
    g_object_unref(msg);
}

void Answers::release(SoupServerMessage* msg, guint status, const char* name, const std::string& message) {
    const auto it = held_.find(msg);
    if (it == held_.end()) return;
    Held& h = *it->second;
    const gint64 began = h.began;
    if (h.watch) g_source_remove(h.watch);
    h.watch = 0;
    h.released = nullptr;
    g_signal_handlers_disconnect_by_data(msg, &h);
    soup_server_message_unpause(msg);
    error(msg, status, name, message, began);
    auto keep = std::move(it->second);
    held_.erase(it);
    g_object_unref(msg);
}

void Answers::answer(Held& h, const shot::WorkerAnswer& a) {
    GMappedFile* mapped = a.report.file.empty() ? nullptr : g_mapped_file_new(a.report.file.c_str(), FALSE, nullptr);
    if (!a.report.file.empty()) g_unlink(a.report.file.c_str());  // the mapping keeps it while it is sent
    if (!h.gone) {
        const auto http = httpFor(a);
        const char* status = shot::statusName(a.report.status);
        auto* headers = soup_server_message_get_response_headers(h.msg);
        // The page's report, as a batch's report line says it, with the picture or the
        // error alike: its long texts cut to fit the proxies in front.
        soup_message_headers_replace(headers, "Vemo-Report", reportHeader(a.report).c_str());
        if (http.status == 200 && mapped) {
            soup_message_headers_replace(headers, "Vemo-Page-Width", std::to_string(a.report.width).c_str());
            soup_message_headers_replace(headers, "Vemo-Page-Height", std::to_string(a.report.height).c_str());
            soup_message_headers_replace(headers, "Vemo-Milliseconds", std::to_string(a.report.milliseconds).c_str());
            soup_message_headers_replace(headers, "Vemo-Status", status);
            if (!a.report.message.empty())
                soup_message_headers_replace(headers, "Vemo-Message", messageHeader(a.report.message).c_str());
            GBytes* bytes = g_mapped_file_get_bytes(mapped);
            const gsize size = g_bytes_get_size(bytes);
            soup_server_message_set_status(h.msg, 200, nullptr);
            soup_message_headers_set_content_type(headers, mediaType(h.format), nullptr);
            soup_message_body_append_bytes(soup_server_message_get_response_body(h.msg), bytes);
            g_bytes_unref(bytes);
            const double seconds = (g_get_monotonic_time() - h.began) / 1e6;
            metrics_.answered(status, seconds, size);
            log(h.msg, 200, size, seconds, h.host.c_str());
        } else {
            // Never an empty or half-written picture: an error with its reason.
            const bool broken = http.status == 200;
            if (http.status == 503) soup_message_headers_replace(headers, "Retry-After", "5");
            // The body carries the whole report, whatever its length.
            auto told = a.report;
            told.file.clear();
            error(h.msg, broken ? 500 : http.status, broken ? "internal" : http.name,
                  broken ? shot::tr("the picture could not be read back") : a.report.message, h.began, h.host.c_str(),
                  &told);
        }
        soup_server_message_unpause(h.msg);
    } else if (!h.finished) {
        // Its client left: the server lets go of the connection once it finds it closed.
        // Logged and counted as the client's doing (499, as web servers log it), not as
        // the service being unavailable.
        soup_message_headers_replace(soup_server_message_get_response_headers(h.msg), "Connection", "close");
        error(h.msg, 499, "client-left", shot::tr("the client left"), h.began, h.host.c_str());
        soup_server_message_unpause(h.msg);
    }
    if (mapped) g_mapped_file_unref(mapped);
    forget(h);
}

void Answers::log(SoupServerMessage* msg, guint status, std::size_t bytes, double seconds, const char* host) {
    if (!host) host = soup_server_message_get_remote_host(msg);
    // What a client sent is logged with its control characters escaped.
    g_printerr("%s %s %s %u %zu %.0f ms\n", shot::printable(host ? host : "-").c_str(),
               shot::printable(soup_server_message_get_method(msg)).c_str(),
               shot::printable(g_uri_get_path(soup_server_message_get_uri(msg))).c_str(), status, bytes, seconds * 1000);
}

void Answers::reply(SoupServerMessage* msg, guint status, const std::string& type, const std::string& body,
                    const char* outcome, gint64 began, const char* host) {
    soup_server_message_set_status(msg, status, nullptr);
    soup_server_message_set_response(msg, type.c_str(), SOUP_MEMORY_COPY, body.data(), body.size());
    const double seconds = (g_get_monotonic_time() - began) / 1e6;
    if (outcome) metrics_.answered(outcome, seconds, 0);
    log(msg, status, body.size(), seconds, host);
}

void Answers::error(SoupServerMessage* msg, guint status, const char* name, const std::string& message, gint64 began,
                    const char* host, const shot::PageReport* report) {
    reply(msg, status, "application/json", errorBody(name, message, report), name, began, host);
}

}  // namespace service
