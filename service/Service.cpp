#include "service/Service.h"

#include <glib-unix.h>
#include <glib/gstdio.h>
#include <libsoup/soup.h>

#include <filesystem>
#include <fstream>
#include <memory>

#include "service/Answers.h"
#include "service/Fields.h"
#include "service/Listener.h"
#include "service/Metrics.h"
#include "service/Request.h"
#include "shot/EnginePool.h"
#include "shot/Messages.h"
#include "shot/RequestJson.h"

namespace service {

using shot::format;
using shot::tr;

namespace {

class Service {
public:
    Service(const shot::Options& o, const std::string& self) : o_(o) {
        char* dir = g_dir_make_tmp("vemo-shot-XXXXXX", nullptr);
        dir_ = dir ? dir : "";
        g_free(dir);
        const int jobs = o.jobs > 0 ? o.jobs : static_cast<int>(std::max(1u, g_get_num_processors()));
        pool_ = std::make_unique<shot::EnginePool>(
            std::vector<std::string>{self, "--worker", "--max-memory=" + std::to_string(o.maxMemoryMB)}, jobs,
            [this](shot::EnginePool::Replaced why) { metrics_.engineReplaced(why); });
        server_ = soup_server_new("server-header", "vemo-shot", nullptr);
        soup_server_add_handler(server_, "/shot", &Service::shot, this, nullptr);
        soup_server_add_handler(server_, "/health", &Service::health, this, nullptr);
        soup_server_add_handler(server_, "/metrics", &Service::metrics, this, nullptr);
        listener_ = std::make_unique<Listener>(
            server_, ListenerLimits{o.maxConnections, o.clientTimeoutS, 2 * o.clientTimeoutS, kLongestRequest});
        answers_ = std::make_unique<Answers>(metrics_);
    }

    ~Service() {
        pool_.reset();
        listener_.reset();
        g_object_unref(server_);
        std::error_code ignored;
        if (!dir_.empty()) std::filesystem::remove_all(dir_, ignored);
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
        if (!listener_->listen(o_.listen, where, error)) return false;
        // Who calls tells nothing of who asks: a reverse proxy, a tunnel or a local web
        // application in front of a TCP listener, loopback or not, forwards anyone. There
        // pages reach public addresses only (and the hosts --allow-host names), unless
        // the operator allows more. A Unix socket is reached by this machine's users
        // alone, as its file mode allows.
        denyPrivate_ = !o_.allowPrivate && (o_.denyPrivate || !listener_->unixOnly());
        return true;
    }

    // What pages may reach, said as the service starts; a warning when the operator
    // lets pages into private networks from a listener beyond loopback.
    void sayRules() const {
        if (denyPrivate_) {
            g_printerr("%s\n", tr("vemo-shot: pages may reach public addresses only (the service's --allow-host=HOST[:PORT] "
                                  "lets a host through, --allow-private every private address)"));
            if (o_.allowHosts.empty()) return;
            std::string hosts;
            for (const auto& h : o_.allowHosts) hosts += (hosts.empty() ? "" : ", ") + h;
            g_printerr("%s\n", format(tr("vemo-shot: --allow-host: pages may reach %s wherever it is"), hosts.c_str()).c_str());
            if (!listener_->local())
                g_printerr("%s\n", tr("vemo-shot: warning: the service listens beyond loopback with --allow-host: whoever "
                                      "reaches it reaches those hosts through it"));
        } else if (o_.allowPrivate) {
            g_printerr("%s\n", tr("vemo-shot: --allow-private: pages may reach private addresses too (this machine and "
                                  "its networks)"));
            if (!listener_->local())
                g_printerr("%s\n", tr("vemo-shot: warning: the service listens beyond loopback with --allow-private: "
                                      "whoever reaches it reaches this machine's networks through it"));
        }
    }

    // Takes no more requests (they are refused with 503 and the connection closed, so a
    // balancer moves them on); the ones under way are finished, the waiting ones refused.
    void drain() {
        if (draining_) return;
        draining_ = true;
        pool_->drain(tr("the service is shutting down"));
    }
    void end() {
        listener_->close();
        soup_server_disconnect(server_);
        pool_->stop(3000);
    }
    bool drained() const { return draining_ && pool_->busy() == 0 && pool_->queued() == 0 && waiting_ == 0; }

private:
    bool allowed(SoupServerMessage* msg) {
        if (token_.empty()) return true;
        const char* auth = soup_message_headers_get_one(soup_server_message_get_request_headers(msg), "Authorization");
        const std::string given = auth && g_str_has_prefix(auth, "Bearer ") ? auth + 7 : "";
        return sameSecret(given, token_);
    }

    bool refuseUnauthorized(SoupServerMessage* msg, gint64 began) {
        if (allowed(msg)) return false;
        soup_message_headers_replace(soup_server_message_get_response_headers(msg), "WWW-Authenticate", "Bearer");
        answers_->error(msg, 401, "unauthorized", tr("a valid 'Authorization: Bearer' token is needed"), began);
        return true;
    }

    static void shot(SoupServer*, SoupServerMessage* msg, const char*, GHashTable*, gpointer data) {
        auto* self = static_cast<Service*>(data);
        const gint64 began = g_get_monotonic_time();
        GSocket* socket = self->listener_->taken(msg);
        const char* method = soup_server_message_get_method(msg);
        if (soup_server_message_get_status(msg) == 413) return;  // refused with its headers
        if (method != SOUP_METHOD_GET && method != SOUP_METHOD_POST)
            return self->answers_->error(msg, 405, "bad-request", tr("use GET or POST"), began);
        if (self->refuseUnauthorized(msg, began)) return;
        auto* headers = soup_server_message_get_response_headers(msg);
        if (self->draining_) {
            soup_message_headers_replace(headers, "Connection", "close");
            return self->answers_->error(msg, 503, "unavailable", tr("the service is shutting down"), began);
        }
        Fields fields;
        std::string why;
        if (method == SOUP_METHOD_GET) {
            fields = queryFields(g_uri_get_query(soup_server_message_get_uri(msg)));
        } else {
            GBytes* body = soup_message_body_flatten(soup_server_message_get_request_body(msg));
            gsize size = 0;
            const auto* data = static_cast<const char*>(g_bytes_get_data(body, &size));
            const bool ok = jsonFields(data, size, fields, why);
            g_bytes_unref(body);
            if (!ok) return self->answers_->error(msg, 400, "bad-request", why, began);
        }
        const auto asked = requestFromFields(fields, {self->o_.maxTimeoutS, self->o_.allowFile});
        if (!asked.request) return self->answers_->error(msg, 400, "bad-request", asked.error, began);
        auto job = std::make_shared<shot::EngineJob>();
        job->task.request = *asked.request;
        self->applyPolicy(job->task.request);
        // A folder of its own, for the picture and what its writing leaves on the way,
        // gone with its answer: also when its client left and its engine was stopped.
        const std::string folder = self->dir_ + "/" + std::to_string(++self->made_);
        g_mkdir(folder.c_str(), 0700);
        job->task.path = folder + "/shot" + capture::formatExtension(job->task.request.picture.format);
        self->answers_->await(msg, socket, job, began, [self] { --self->waiting_; });
        job->done = [answer = std::move(job->done), folder](const shot::WorkerAnswer& a) {
            answer(a);  // a picture sent is mapped: its file may go
            std::error_code ignored;
            std::filesystem::remove_all(folder, ignored);
        };
        std::weak_ptr<shot::EngineJob> weak = job;
        self->answers_->onLeft(msg, [self, weak] {
            if (auto gone = weak.lock()) self->pool_->cancel(gone);  // out of the queue, or its engine stopped
        });
        const auto submitted = self->pool_->submit(job, static_cast<std::size_t>(self->o_.queue));
        if (submitted != shot::EnginePool::Submitted::Queued) g_rmdir(folder.c_str());  // never taken
        switch (submitted) {
            case shot::EnginePool::Submitted::Queued: ++self->waiting_; return;
            case shot::EnginePool::Submitted::Full:
                soup_message_headers_replace(headers, "Retry-After", "5");
                return self->answers_->release(msg, 503, "busy", tr("every engine is busy and the queue is full"));
            case shot::EnginePool::Submitted::Unavailable:
                soup_message_headers_replace(headers, "Retry-After", "5");
                return self->answers_->release(msg, 503, "unavailable", self->pool_->unavailable(job->task.request.scale));
        }
    }

    // The operator's network rules, whatever the caller asked.
    void applyPolicy(engine::ShotRequest& r) const { r.network = {denyPrivate_, o_.allowHosts}; }

    static void health(SoupServer*, SoupServerMessage* msg, const char*, GHashTable*, gpointer data) {
        // Open to load balancers without the token: it tells whether engines are up, nothing else.
        auto* self = static_cast<Service*>(data);
        self->listener_->taken(msg);
        const bool ready = !self->draining_ && self->pool_->ready();
        if (self->draining_)
            soup_message_headers_replace(soup_server_message_get_response_headers(msg), "Connection", "close");
        JsonBuilder* b = json_builder_new();
        json_builder_begin_object(b);
        json_builder_set_member_name(b, "status");
        json_builder_add_string_value(b, ready ? "ready" : "unavailable");
        for (const auto& [name, count] : {std::pair{"engines", self->pool_->alive()}, std::pair{"busy", self->pool_->busy()},
                                          std::pair{"queued", self->pool_->queued()}}) {
            json_builder_set_member_name(b, name);
            json_builder_add_int_value(b, static_cast<gint64>(count));
        }
        json_builder_end_object(b);
        self->answers_->reply(msg, ready ? 200 : 503, "application/json", shot::builtText(b), nullptr,
                              g_get_monotonic_time());
    }

    static void metrics(SoupServer*, SoupServerMessage* msg, const char*, GHashTable*, gpointer data) {
        auto* self = static_cast<Service*>(data);
        self->listener_->taken(msg);
        const gint64 began = g_get_monotonic_time();
        if (self->refuseUnauthorized(msg, began)) return;
        self->answers_->reply(msg, 200, "text/plain; version=0.0.4",
                              self->metrics_.text(self->pool_->queued(), self->pool_->busy(), self->pool_->alive()),
                              nullptr, began);
    }

    const shot::Options o_;
    std::string dir_, token_;
    std::unique_ptr<shot::EnginePool> pool_;
    SoupServer* server_ = nullptr;
    std::unique_ptr<Listener> listener_;
    Metrics metrics_;
    std::unique_ptr<Answers> answers_;
    bool draining_ = false, denyPrivate_ = false;
    int waiting_ = 0;
    unsigned long made_ = 0;
};

}  // namespace

int serve(const shot::Options& o, const std::string& self) {
    Service service(o, self);
    std::string where, error;
    if (!service.readToken(error) || !service.listen(where, error)) {
        g_printerr("vemo-shot: %s\n", error.c_str());
        return shot::kExitUsage;
    }
    g_printerr("vemo-shot: serving on %s\n", where.c_str());
    service.sayRules();
    GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
    struct Stop {
        Service* service;
        GMainLoop* loop;
    } stop{&service, loop};
    auto onSignal = +[](gpointer d) -> gboolean {
        static_cast<Stop*>(d)->service->drain();
        return G_SOURCE_CONTINUE;
    };
    const guint term = g_unix_signal_add(SIGTERM, onSignal, &stop);
    const guint interrupt = g_unix_signal_add(SIGINT, onSignal, &stop);
    const guint check = g_timeout_add(50, [](gpointer d) -> gboolean {
        auto* s = static_cast<Stop*>(d);
        if (s->service->drained()) g_main_loop_quit(s->loop);
        return G_SOURCE_CONTINUE;
    }, &stop);
    g_main_loop_run(loop);
    // The engines' end is heard from the main loop: nothing of the loop may be left there.
    for (guint source : {term, interrupt, check}) g_source_remove(source);
    g_main_loop_unref(loop);
    service.end();
    return shot::kExitOk;
}

}  // namespace service
