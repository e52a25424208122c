// Where the capture service listens, and the connections it takes: on the sockets
// systemd hands over, a Unix socket or an address and port. Connections are bounded in
// number; a client must send its request (head and body) within a time limit, and may
// hold an idle connection only so long; a body is refused as soon as it passes the
// largest request, also one sent in chunks.
#pragma once

#include <libsoup/soup.h>

#include <map>
#include <string>

namespace service {

struct ListenerLimits {
    int connections = 256;       // at once; more are closed as they come
    int requestSeconds = 15;     // to send a request's head and body
    int idleSeconds = 30;        // from an answer to the next request's first bytes
    std::size_t longestBody = 65536;
};

class Listener {
public:
    Listener(SoupServer*, ListenerLimits);
    ~Listener();
    Listener(const Listener&) = delete;
    Listener& operator=(const Listener&) = delete;

    // Listens where `where` says ("ADDRESS:PORT", "[ADDRESS]:PORT", a path or
    // "unix:PATH"), or on the sockets systemd handed over; false with why when it cannot.
    bool listen(const std::string& where, std::string& said, std::string& error);
    // Whether every place it listens on is this machine's alone (loopback, a Unix socket).
    bool local() const { return local_; }
    // Whether it listens on Unix sockets only: reached by this machine's users, as the
    // sockets' file modes allow. A TCP listener, even on loopback, is reached by
    // whatever forwards to it (a reverse proxy, a tunnel, a local web application).
    bool unixOnly() const { return unixOnly_; }
    int connections() const { return static_cast<int>(open_.size()); }
    // A request read whole and taken by a handler: no time limit runs on its connection
    // while it is answered. Its socket, to hear whether its client leaves meanwhile.
    GSocket* taken(SoupServerMessage*);
    void close();

    struct Connection;

private:
    static gboolean incoming(GSocketService*, GSocketConnection*, GObject*, gpointer);
    static void requestStarted(SoupServer*, SoupServerMessage*, gpointer);
    void arm(Connection&, int seconds);
    Connection* connectionOf(SoupServerMessage*);

    SoupServer* server_;
    ListenerLimits limits_;
    GSocketService* service_ = nullptr;
    std::map<GSocketAddress*, Connection*> open_;
    std::string socketPath_;
    bool local_ = true;
    bool unixOnly_ = true;
};

}  // namespace service
