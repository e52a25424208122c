#include "service/Listener.h"

#include <gio/gunixsocketaddress.h>
#include <glib/gstdio.h>
#include <unistd.h>

#include <cstdlib>

#include "service/Fields.h"
#include "shot/Messages.h"

namespace service {

using shot::format;
using shot::tr;

struct Listener::Connection {
    Listener* listener;
    GSocket* socket;
    GSocketAddress* remote;
    guint deadline = 0;
    std::size_t body = 0;  // of the request being read
};

namespace {

bool isLocal(GSocketAddress* a) {
    if (G_IS_UNIX_SOCKET_ADDRESS(a)) return true;
    return G_IS_INET_SOCKET_ADDRESS(a) &&
           g_inet_address_get_is_loopback(g_inet_socket_address_get_address(G_INET_SOCKET_ADDRESS(a)));
}

// Said to a client whose connection is closed before its request was read whole.
void refuse(GSocket* socket, guint status, const char* reason, const std::string& message) {
    const std::string body = errorBody(status == 413 ? "too-large" : "bad-request", message);
    const std::string answer = format("HTTP/1.1 %u %s\r\nContent-Type: application/json\r\nContent-Length: %zu\r\n"
                                      "Connection: close\r\n\r\n", status, reason, body.size()) + body;
    g_socket_set_blocking(socket, FALSE);
    g_socket_send(socket, answer.data(), answer.size(), nullptr, nullptr);
    g_socket_shutdown(socket, TRUE, TRUE, nullptr);
}

// libsoup keeps a connection open for its next request only while the server itself
// listens somewhere: it is given a socket no one can reach, its path gone at once.
void keepConnectionsAlive(SoupServer* server) {
    char* dir = g_dir_make_tmp("vemo-shot-XXXXXX", nullptr);
    if (!dir) return;
    const std::string path = std::string(dir) + "/unreachable";
    GSocketAddress* a = g_unix_socket_address_new(path.c_str());
    GSocket* s = g_socket_new(G_SOCKET_FAMILY_UNIX, G_SOCKET_TYPE_STREAM, G_SOCKET_PROTOCOL_DEFAULT, nullptr);
    if (s && g_socket_bind(s, a, FALSE, nullptr) && g_socket_listen(s, nullptr))
        soup_server_listen_socket(server, s, SoupServerListenOptions(0), nullptr);
    g_unlink(path.c_str());
    g_rmdir(dir);
    g_free(dir);
    if (s) g_object_unref(s);
    g_object_unref(a);
}

}  // namespace

Listener::Listener(SoupServer* server, ListenerLimits limits) : server_(server), limits_(limits) {
    keepConnectionsAlive(server_);
    service_ = g_socket_service_new();
    g_signal_connect(service_, "incoming", G_CALLBACK(&Listener::incoming), this);
    g_signal_connect(server_, "request-started", G_CALLBACK(&Listener::requestStarted), this);
}

Listener::~Listener() {
    close();
    g_signal_handlers_disconnect_by_data(server_, this);
    for (auto& [socket, c] : open_) {
        if (c->deadline) g_source_remove(c->deadline);
        c->listener = nullptr;  // the connection's end finds no listener
    }
    g_object_unref(service_);
    if (!socketPath_.empty()) g_unlink(socketPath_.c_str());
}

void Listener::close() {
    g_socket_service_stop(service_);
    g_socket_listener_close(G_SOCKET_LISTENER(service_));
}

bool Listener::listen(const std::string& where, std::string& said, std::string& error) {
    GError* e = nullptr;
    GSocketListener* listener = G_SOCKET_LISTENER(service_);
    const char* pid = g_getenv("LISTEN_PID");
    const char* fds = g_getenv("LISTEN_FDS");
    if (pid && fds && std::atol(pid) == static_cast<long>(::getpid()) && std::atoi(fds) > 0) {
        // A socket handed over by systemd comes first.
        for (int fd = 3; fd < 3 + std::atoi(fds) && !e; ++fd) {
            GSocket* s = g_socket_new_from_fd(fd, &e);
            if (!s) break;
            // A socket whose address cannot be told is taken as open to anyone.
            GSocketAddress* a = g_socket_get_local_address(s, nullptr);
            local_ = local_ && a && isLocal(a);
            unixOnly_ = unixOnly_ && a && G_IS_UNIX_SOCKET_ADDRESS(a);
            if (a) g_object_unref(a);
            g_socket_listener_add_socket(listener, s, nullptr, &e);
            g_object_unref(s);
        }
        said = "the sockets systemd handed over";
    } else if (where.find('/') != std::string::npos) {
        socketPath_ = where.rfind("unix:", 0) == 0 ? where.substr(5) : where;
        g_unlink(socketPath_.c_str());
        GSocketAddress* a = g_unix_socket_address_new(socketPath_.c_str());
        g_socket_listener_add_address(listener, a, G_SOCKET_TYPE_STREAM, G_SOCKET_PROTOCOL_DEFAULT, nullptr, nullptr, &e);
        g_object_unref(a);
        said = socketPath_;
    } else {
        const auto colon = where.rfind(':');
        std::string host = colon == std::string::npos ? where : where.substr(0, colon);
        const int port = colon == std::string::npos ? 8178 : std::atoi(where.c_str() + colon + 1);
        if (host.size() > 1 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
        GSocketAddress* a = g_inet_socket_address_new_from_string(host.c_str(), static_cast<guint>(port));
        if (!a || port <= 0 || port > 65535) {
            error = format(tr("--listen takes ADDRESS:PORT or a socket's path, not '%s'"), where.c_str());
            if (a) g_object_unref(a);
            return false;
        }
        local_ = isLocal(a);
        unixOnly_ = false;
        g_socket_listener_add_address(listener, a, G_SOCKET_TYPE_STREAM, G_SOCKET_PROTOCOL_DEFAULT, nullptr, nullptr, &e);
        g_object_unref(a);
        said = where;
    }
    if (e) {
        error = e->message;
        g_error_free(e);
        return false;
    }
    g_socket_service_start(service_);
    return true;
}

gboolean Listener::incoming(GSocketService*, GSocketConnection* connection, GObject*, gpointer data) {
    auto* self = static_cast<Listener*>(data);
    GSocket* socket = g_socket_connection_get_socket(connection);
    if (static_cast<int>(self->open_.size()) >= self->limits_.connections) {
        g_printerr("vemo-shot: too many connections (%d): one more closed\n", self->limits_.connections);
        g_io_stream_close(G_IO_STREAM(connection), nullptr, nullptr);
        return TRUE;
    }
    GSocketAddress* local = g_socket_connection_get_local_address(connection, nullptr);
    GSocketAddress* remote = g_socket_connection_get_remote_address(connection, nullptr);
    if (!remote) remote = g_unix_socket_address_new_with_type("", 0, G_UNIX_SOCKET_ADDRESS_ANONYMOUS);
    // The server keeps the remote address it is given: its messages name it, and so
    // tell which connection they came on.
    auto* c = new Connection{self, socket, remote};
    self->open_[remote] = c;
    // Its end, whenever the server lets go of it.
    g_object_weak_ref(G_OBJECT(connection), [](gpointer d, GObject*) {
        auto* gone = static_cast<Connection*>(d);
        if (gone->listener) {
            if (gone->deadline) g_source_remove(gone->deadline);
            gone->listener->open_.erase(gone->remote);
        }
        if (gone->remote) g_object_unref(gone->remote);  // held till now: no other connection has its name
        delete gone;
    }, c);
    // Armed first: a request already waiting on the socket may be read and answered within
    // the server's taking of it, and its answer arms the idle time.
    self->arm(*c, self->limits_.requestSeconds);
    GError* e = nullptr;
    if (!soup_server_accept_iostream(self->server_, G_IO_STREAM(connection), local, remote, &e)) {
        g_printerr("vemo-shot: a connection could not be taken: %s\n", e->message);
        g_error_free(e);
    }
    if (local) g_object_unref(local);
    return TRUE;
}

void Listener::arm(Connection& c, int seconds) {
    if (c.deadline) g_source_remove(c.deadline);
    c.deadline = seconds <= 0 ? 0 : g_timeout_add_seconds(static_cast<guint>(seconds), [](gpointer d) -> gboolean {
        auto* late = static_cast<Connection*>(d);
        late->deadline = 0;
        g_socket_shutdown(late->socket, TRUE, TRUE, nullptr);  // the server hears its end
        return G_SOURCE_REMOVE;
    }, &c);
}

GSocket* Listener::taken(SoupServerMessage* msg) {
    Connection* c = connectionOf(msg);
    if (!c) return nullptr;
    arm(*c, 0);
    return c->socket;
}

Listener::Connection* Listener::connectionOf(SoupServerMessage* msg) {
    const auto it = open_.find(soup_server_message_get_remote_address(msg));
    return it == open_.end() ? nullptr : it->second;
}

void Listener::requestStarted(SoupServer*, SoupServerMessage* msg, gpointer data) {
    auto* self = static_cast<Listener*>(data);
    Connection* c = self->connectionOf(msg);
    if (!c) return;
    c->body = 0;
    // On a kept connection, as its next request's first bytes come: until then it was idle.
    self->arm(*c, self->limits_.requestSeconds);
    g_signal_connect(msg, "got-headers", G_CALLBACK(+[](SoupServerMessage* m, gpointer d) {
        // A body larger than any request is refused before it is read.
        auto* h = soup_server_message_get_request_headers(m);
        auto* l = static_cast<Listener*>(d);
        if (soup_message_headers_get_encoding(h) == SOUP_ENCODING_CONTENT_LENGTH &&
            soup_message_headers_get_content_length(h) > static_cast<goffset>(l->limits_.longestBody))
            if (Connection* conn = l->connectionOf(m))
                refuse(conn->socket, 413, "Payload Too Large", tr("the request body is too large"));
    }), self);
    g_signal_connect(msg, "got-chunk", G_CALLBACK(+[](SoupServerMessage* m, GBytes* chunk, gpointer d) {
        auto* l = static_cast<Listener*>(d);
        Connection* conn = l->connectionOf(m);
        if (!conn) return;
        conn->body += g_bytes_get_size(chunk);
        // A body sent in chunks is refused as soon as it passes the limit.
        if (conn->body > l->limits_.longestBody)
            refuse(conn->socket, 413, "Payload Too Large", tr("the request body is too large"));
    }), self);
    g_signal_connect(msg, "got-body", G_CALLBACK(+[](SoupServerMessage* m, gpointer d) {
        auto* l = static_cast<Listener*>(d);
        if (Connection* conn = l->connectionOf(m)) l->arm(*conn, 0);
    }), self);
    g_signal_connect(msg, "finished", G_CALLBACK(+[](SoupServerMessage* m, gpointer d) {
        auto* l = static_cast<Listener*>(d);
        if (Connection* conn = l->connectionOf(m)) l->arm(*conn, l->limits_.idleSeconds);
    }), self);
}

}  // namespace service
