#include "shot/Service.h"

#include <glib-unix.h>
#include <glib/gstdio.h>
#include <json-glib/json-glib.h>
#include <libsoup/soup.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <memory>

#include "capture/ImageFiles.h"
#include "shot/Messages.h"
#include "shot/ServiceMetrics.h"
#include "shot/ServicePool.h"
#include "shot/ServiceFields.h"
#include "shot/ServiceRequest.h"

namespace shot {

namespace {

class Service {
public:
    Service(const Options& o, const std::string& self) : o_(o) {
        char* dir = g_dir_make_tmp("vemo-shot-XXXXXX", nullptr);
        dir_ = dir ? dir : "";
        g_free(dir);
        const int jobs = o.jobs > 0 ? o.jobs : static_cast<int>(std::max(1u, g_get_num_processors()));
        pool_ = std::make_unique<ServicePool>(
            std::vector<std::string>{self, "--worker=" + dir_}, jobs,
            [this](const std::shared_ptr<Job>& job, const WorkerAnswer& a) { answer(job, a); },
            [this] { metrics_.engineRestarted(); });
        server_ = soup_server_new("server-header", "vemo-shot", nullptr);
        soup_server_add_handler(server_, "/shot", &Service::shot, this, nullptr);
        soup_server_add_handler(server_, "/health", &Service::health, this, nullptr);
        soup_server_add_handler(server_, "/metrics", &Service::metrics, this, nullptr);
        g_signal_connect(server_, "request-started", G_CALLBACK(&Service::started), this);
    }

    ~Service() {
        pool_.reset();
        g_object_unref(server_);
        if (!dir_.empty()) {
            GDir* d = g_dir_open(dir_.c_str(), 0, nullptr);
            while (const char* name = d ? g_dir_read_name(d) : nullptr) g_remove((dir_ + "/" + name).c_str());
            if (d) g_dir_close(d);
            g_rmdir(dir_.c_str());
        }
        if (!socketPath_.empty()) g_unlink(socketPath_.c_str());
    }

    bool readToken(std::string& error) {
        if (o_.tokenFile.empty()) return true;
        std::ifstream in(o_.tokenFile);
        std::getline(in, token_);
        while (!token_.empty() && g_ascii_isspace(token_.back())) token_.pop_back();
        if (!in && token_.empty()) error = format(tr("cannot read the token file '%s'"), o_.tokenFile.c_str());
        else if (token_.empty()) error = format(tr("the token file '%s' is empty"), o_.tokenFile.c_str());
        return error.empty();
    }

    bool listen(std::string& where, std::string& error) {
        GError* e = nullptr;
        // A socket handed over by systemd comes first.
        const char* pid = g_getenv("LISTEN_PID");
        const char* fds = g_getenv("LISTEN_FDS");
        if (pid && fds && std::atol(pid) == static_cast<long>(::getpid()) && std::atoi(fds) > 0) {
            for (int fd = 3; fd < 3 + std::atoi(fds); ++fd) {
                GSocket* s = g_socket_new_from_fd(fd, &e);
                if (!s || !soup_server_listen_socket(server_, s, static_cast<SoupServerListenOptions>(0), &e)) break;
                g_object_unref(s);
            }
            where = "the sockets systemd handed over";
        } else if (o_.listen.find('/') != std::string::npos) {
            socketPath_ = o_.listen.rfind("unix:", 0) == 0 ? o_.listen.substr(5) : o_.listen;
            g_unlink(socketPath_.c_str());
            GSocketAddress* a = g_unix_socket_address_new(socketPath_.c_str());
            soup_server_listen(server_, a, static_cast<SoupServerListenOptions>(0), &e);
            g_object_unref(a);
            where = socketPath_;
        } else {
            const auto colon = o_.listen.rfind(':');
            std::string host = colon == std::string::npos ? o_.listen : o_.listen.substr(0, colon);
            const int port = colon == std::string::npos ? 8178 : std::atoi(o_.listen.c_str() + colon + 1);
            if (host.size() > 1 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
            GSocketAddress* a = g_inet_socket_address_new_from_string(host.c_str(), static_cast<guint>(port));
            if (!a || port <= 0 || port > 65535) {
                error = format(tr("--listen takes ADDRESS:PORT or a socket's path, not '%s'"), o_.listen.c_str());
                if (a) g_object_unref(a);
                return false;
            }
            soup_server_listen(server_, a, static_cast<SoupServerListenOptions>(0), &e);
            g_object_unref(a);
            where = o_.listen;
        }
        if (e) {
            error = e->message;
            g_error_free(e);
            return false;
        }
        return true;
    }

    // Takes no more requests (they are refused with 503 until the service ends); the ones
    // under way are finished, the waiting ones refused.
    void drain() {
        if (draining_) return;
        draining_ = true;
        pool_->failQueued({"interrupted", 0, 0, 0, {}, tr("the service is shutting down")});
    }
    // Ends the engines: each finishes as its input closes, or is ended after a while.
    void end() {
        soup_server_disconnect(server_);
        pool_->stop(3000);
    }
    bool drained() const { return draining_ && pool_->busy() == 0 && pool_->queued() == 0 && pending_ == 0; }

private:
    struct Pending {
        SoupServerMessage* msg;
        std::string host;
        bool gone = false;
    };

    static void started(SoupServer*, SoupServerMessage* msg, gpointer data) {
        g_signal_connect(msg, "got-headers", G_CALLBACK(+[](SoupServerMessage* m, gpointer) {
                             // A body larger than any request is refused before it is read.
                             auto* h = soup_server_message_get_request_headers(m);
                             if (soup_message_headers_get_encoding(h) == SOUP_ENCODING_CONTENT_LENGTH &&
                                 soup_message_headers_get_content_length(h) > static_cast<goffset>(kLongestRequest)) {
                                 soup_server_message_set_status(m, 413, nullptr);
                                 const std::string body = "{\"status\":\"too-large\",\"message\":\"the request body is too large\"}";
                                 soup_server_message_set_response(m, "application/json", SOUP_MEMORY_COPY, body.data(), body.size());
                             }
                         }), data);
    }

    void reply(SoupServerMessage* msg, guint status, const std::string& type, std::string body, const char* outcome,
               gint64 began, const char* host = nullptr) {
        soup_server_message_set_status(msg, status, nullptr);
        soup_server_message_set_response(msg, type.c_str(), SOUP_MEMORY_COPY, body.data(), body.size());
        const double seconds = (g_get_monotonic_time() - began) / 1e6;
        if (outcome) metrics_.answered(outcome, seconds, type.rfind("image/", 0) == 0 ? body.size() : 0);
        if (!host) host = soup_server_message_get_remote_host(msg);
        g_printerr("%s %s %s %u %zu %.0f ms\n", host ? host : "-",
                   soup_server_message_get_method(msg), g_uri_get_path(soup_server_message_get_uri(msg)), status,
                   body.size(), seconds * 1000);
    }

    void error(SoupServerMessage* msg, guint status, const char* name, const std::string& message, gint64 began,
               const char* host = nullptr) {
        reply(msg, status, "application/json", "{\"status\":" + json(name) + ",\"message\":" + json(message) + "}", name,
              began, host);
    }

    bool allowed(SoupServerMessage* msg) {
        if (token_.empty()) return true;
        const char* auth = soup_message_headers_get_one(soup_server_message_get_request_headers(msg), "Authorization");
        const std::string given = auth && g_str_has_prefix(auth, "Bearer ") ? auth + 7 : "";
        return sameSecret(given, token_);
    }

    static void shot(SoupServer*, SoupServerMessage* msg, const char*, GHashTable* query, gpointer data) {
        auto* self = static_cast<Service*>(data);
        const gint64 began = g_get_monotonic_time();
        const char* method = soup_server_message_get_method(msg);
        if (soup_server_message_get_status(msg) == 413) return;  // refused with its headers
        if (method != SOUP_METHOD_GET && method != SOUP_METHOD_POST)
            return self->error(msg, 405, "bad-request", tr("use GET or POST"), began);
        if (!self->allowed(msg)) {
            soup_message_headers_replace(soup_server_message_get_response_headers(msg), "WWW-Authenticate", "Bearer");
            return self->error(msg, 401, "unauthorized", tr("a valid 'Authorization: Bearer' token is needed"), began);
        }
        if (self->draining_) {
            soup_message_headers_replace(soup_server_message_get_response_headers(msg), "Connection", "close");
            return self->error(msg, 503, "unavailable", tr("the service is shutting down"), began);
        }
        std::map<std::string, std::string> fields;
        std::string why;
        if (!fieldsOf(msg, query, fields, why)) return self->error(msg, 400, "bad-request", why, began);
        const auto request = requestFromFields(fields, self->o_.allowFile);
        if (!request.options) return self->error(msg, 400, "bad-request", request.error, began);
        const auto& o = *request.options;
        auto job = std::make_shared<Job>();
        job->args = {"vemo-shot",
                     "--width=" + std::to_string(o.width), "--height=" + std::to_string(o.height),
                     "--scale=" + std::to_string(o.scale), "--wait=" + std::to_string(o.waitMs),
                     "--timeout=" + std::to_string(o.timeoutS), o.warmUp ? "--warm-up" : "--no-warm-up",
                     "--quality=" + std::to_string(o.quality), o.animations ? "--animations=run" : "--animations=rest",
                     "--", o.address, o.out};
        job->timeoutS = o.timeoutS;
        job->began = began;
        const char* host = soup_server_message_get_remote_host(msg);
        auto* pending = new Pending{msg, host ? host : "-"};
        job->context = pending;
        g_object_ref(msg);
        g_signal_connect(msg, "finished", G_CALLBACK(+[](SoupServerMessage*, gpointer d) {
                             static_cast<Pending*>(d)->gone = true;
                         }), pending);
        if (!self->pool_->submit(job, static_cast<std::size_t>(self->o_.queue))) {
            g_signal_handlers_disconnect_by_data(msg, pending);
            delete pending;
            g_object_unref(msg);
            soup_message_headers_replace(soup_server_message_get_response_headers(msg), "Retry-After", "5");
            return self->error(msg, 503, "busy", tr("every engine is busy and the queue is full"), began);
        }
        ++self->pending_;
        soup_server_message_pause(msg);
    }

    void answer(const std::shared_ptr<Job>& job, const WorkerAnswer& a) {
        auto* p = static_cast<Pending*>(job->context);
        --pending_;
        std::string picture;
        if (!a.file.empty()) {
            gchar* bytes = nullptr;
            gsize size = 0;
            if (g_file_get_contents(a.file.c_str(), &bytes, &size, nullptr)) picture.assign(bytes, size);
            g_free(bytes);
            g_unlink(a.file.c_str());
        }
        if (!p->gone) {
            const auto http = httpFor(a.status);
            auto* headers = soup_server_message_get_response_headers(p->msg);
            if (http.status == 200 && !picture.empty()) {
                const auto kind = capture::formatForName(job->args.back());
                const std::string type = kind == capture::Format::Png ? "image/png"
                                         : kind == capture::Format::Jpeg ? "image/jpeg" : "image/bmp";
                soup_message_headers_replace(headers, "Vemo-Page-Width", std::to_string(a.width).c_str());
                soup_message_headers_replace(headers, "Vemo-Page-Height", std::to_string(a.height).c_str());
                soup_message_headers_replace(headers, "Vemo-Milliseconds", std::to_string(a.milliseconds).c_str());
                soup_message_headers_replace(headers, "Vemo-Status", a.status.c_str());
                if (!a.message.empty()) {
                    gchar* escaped = g_uri_escape_string(a.message.c_str(), " ", TRUE);
                    soup_message_headers_replace(headers, "Vemo-Message", escaped);
                    g_free(escaped);
                }
                reply(p->msg, 200, type, std::move(picture), a.status.c_str(), job->began, p->host.c_str());
            } else {
                // Never an empty or half-written picture: an error with its reason.
                const bool broken = http.status == 200;
                if (http.status == 503) soup_message_headers_replace(headers, "Retry-After", "5");
                error(p->msg, broken ? 500 : http.status, broken ? "internal" : http.name,
                      broken ? tr("the picture could not be read back") : a.message, job->began, p->host.c_str());
            }
            soup_server_message_unpause(p->msg);
        }
        g_signal_handlers_disconnect_by_data(p->msg, p);
        g_object_unref(p->msg);
        delete p;
    }

    static void health(SoupServer*, SoupServerMessage* msg, const char*, GHashTable*, gpointer data) {
        auto* self = static_cast<Service*>(data);
        const bool ready = !self->draining_ && self->pool_->alive() > 0;
        self->reply(msg, ready ? 200 : 503, "application/json",
                    format("{\"status\":\"%s\",\"engines\":%zu,\"busy\":%zu,\"queued\":%zu}", ready ? "ready" : "unavailable",
                           self->pool_->alive(), self->pool_->busy(), self->pool_->queued()),
                    nullptr, g_get_monotonic_time());
    }

    static void metrics(SoupServer*, SoupServerMessage* msg, const char*, GHashTable*, gpointer data) {
        auto* self = static_cast<Service*>(data);
        self->reply(msg, 200, "text/plain; version=0.0.4",
                    self->metrics_.text(self->pool_->queued(), self->pool_->busy(), self->pool_->alive()), nullptr,
                    g_get_monotonic_time());
    }

    const Options o_;
    std::string dir_, token_, socketPath_;
    std::unique_ptr<ServicePool> pool_;
    SoupServer* server_ = nullptr;
    ServiceMetrics metrics_;
    bool draining_ = false;
    int pending_ = 0;
};

}  // namespace

int serve(const Options& o, const std::string& self) {
    Service service(o, self);
    std::string where, error;
    if (!service.readToken(error) || !service.listen(where, error)) {
        g_printerr("vemo-shot: %s\n", error.c_str());
        return kExitUsage;
    }
    g_printerr("vemo-shot: serving on %s\n", where.c_str());
    GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
    struct Stop {
        Service* service;
        GMainLoop* loop;
    } stop{&service, loop};
    auto onSignal = +[](gpointer d) -> gboolean {
        static_cast<Stop*>(d)->service->drain();
        return G_SOURCE_CONTINUE;
    };
    g_unix_signal_add(SIGTERM, onSignal, &stop);
    g_unix_signal_add(SIGINT, onSignal, &stop);
    g_timeout_add(50, [](gpointer d) -> gboolean {
        auto* s = static_cast<Stop*>(d);
        if (s->service->drained()) g_main_loop_quit(s->loop);
        return G_SOURCE_CONTINUE;
    }, &stop);
    g_main_loop_run(loop);
    g_main_loop_unref(loop);
    service.end();
    return kExitOk;
}

}  // namespace shot
