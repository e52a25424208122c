#include "engine/Proxy.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <mutex>
#include <vector>

#include "engine/Forwarding.h"

namespace engine {

namespace {

constexpr std::size_t kLongestHead = 64 * 1024;
constexpr int kHeadMs = 30000;       // for a request's head to come
constexpr int kConnectMs = 15000;    // for each address of a destination to answer
constexpr int kMostConnections = 512;
constexpr int kMostForAPage = 128;  // at once: a page that opens more has the rest refused

std::string lower(std::string s) {
    for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

}  // namespace

// The connections of one capture: they end when the next begins, or the proxy stops.
struct Capture {
    int wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);  // readable once they are to end
    std::atomic<int> connections{0};
    ~Capture() {
        if (wake >= 0) ::close(wake);
    }
    void end() const {
        if (wake >= 0) ::eventfd_write(wake, 1);
    }
};

struct ForwardProxy::State : std::enable_shared_from_this<ForwardProxy::State> {
    int listener = -1;
    int wake = -1;  // readable once the proxy stops
    int spare = -1;  // a descriptor kept to refuse a connection with when there are no more
    std::atomic<int> connections{0};
    std::shared_ptr<Capture> capture = std::make_shared<Capture>();  // under `mutex`
    mutable std::mutex mutex;
    AddressRules rules;
    ProxyTally tally;
    std::map<std::string, TurnedAway> turned;  // by destination

    ~State() {
        if (listener >= 0) ::close(listener);
        if (wake >= 0) ::close(wake);
        if (spare >= 0) ::close(spare);
    }
    bool stopping(int ending) const {
        pollfd p{ending, POLLIN, 0};
        return ::poll(&p, 1, 0) > 0;
    }
    std::shared_ptr<Capture> current() const {
        std::lock_guard lock(mutex);
        return capture;
    }
    void accept();
    void turnAway(const TurnedAway& t, const std::string& shown) {
        std::lock_guard lock(mutex);
        turned[destinationText(t.to)] = t;
        if (t.why != TurnedAway::Why::Refused) return;
        if (tally.refused++ == 0) tally.firstRefused = shown;
    }
    void serve(int client, int wake);
};

// Serves one connection until it ends, or `wake` (its capture's) says to stop.
void ForwardProxy::State::serve(int client, int wake) {
    using namespace forwarding;
    std::string text;
    char buf[8192];
    std::size_t headEnd;
    while ((headEnd = text.find("\r\n\r\n")) == std::string::npos) {
        if (text.size() > kLongestHead || !forwarding::await(client, POLLIN, kHeadMs, wake)) return;
        const ssize_t n = ::recv(client, buf, sizeof buf, 0);
        if (n <= 0) return;
        text.append(buf, static_cast<std::size_t>(n));
    }
    const auto head = parseHead(text.substr(0, headEnd + 4));
    const std::string rest = text.substr(headEnd + 4);
    if (!head) return answer(client, "400 Bad Request");
    const bool tunnel = head->method == "CONNECT";
    std::optional<Destination> to;
    std::string path = "/", shown;
    if (tunnel) {
        to = destinationOf(head->target, 443);
        if (to) shown = destinationText(*to);
    } else {
        const auto scheme = head->target.find("://");
        const std::string name = scheme == std::string::npos ? "" : lower(head->target.substr(0, scheme));
        if (name == "http" || name == "ws") {
            const auto slash = head->target.find_first_of("/?#", scheme + 3);
            if (slash != std::string::npos) path = head->target.substr(slash);
            if (path[0] != '/') path = "/" + path;
            to = destinationOfAddress(head->target);
            shown = head->target.substr(0, head->target.find('#'));
        }
    }
    if (!to) return answer(client, "400 Bad Request");
    const auto found = resolve(*to);
    if (found.addresses.empty()) {
        turnAway({TurnedAway::Why::NoHost, *to, {}, AddressKind::Public, found.error, 0}, shown);
        return answer(client, "502 Bad Gateway");
    }
    AddressRules now;
    {
        std::lock_guard lock(mutex);
        now = rules;
    }
    if (const auto verdict = now.judge(*to, found.addresses); !verdict.allowed) {
        turnAway({TurnedAway::Why::Refused, *to, verdict.address, verdict.kind, {}, 0}, shown);
        return answer(client, "403 Forbidden");
    }
    int code = 0;
    const int server = forwarding::connectTo(found.addresses, kConnectMs, wake, code);
    if (server < 0) {
        if (stopping(wake)) return;
        const bool timedOut = code == ETIMEDOUT;
        const auto* tried = reinterpret_cast<const sockaddr*>(&found.addresses.back());
        turnAway({timedOut ? TurnedAway::Why::TimedOut : TurnedAway::Why::NotReached, *to, addressText(tried),
                  kindOf(tried), std::strerror(code), code},
                 shown);
        return answer(client, timedOut ? "504 Gateway Timeout" : "502 Bad Gateway");
    }
    const std::string first = tunnel ? "HTTP/1.1 200 Connection established\r\n\r\n" : forwardedHead(*head, path) + rest;
    const bool started = tunnel ? sendAll(client, first.data(), first.size(), wake) &&
                                      sendAll(server, rest.data(), rest.size(), wake)
                                : sendAll(server, first.data(), first.size(), wake);
    if (started) forwarding::relay(client, server, wake);
    ::close(server);
}

ForwardProxy::ForwardProxy() : state_(std::make_shared<State>()) {
    state_->wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (fd < 0 || state_->wake < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&addr), len) != 0 || ::listen(fd, 128) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        if (fd >= 0) ::close(fd);
        return;
    }
    state_->listener = fd;
    port_ = ntohs(addr.sin_port);
    state_->spare = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    listening_ = std::thread([state = state_] {
        while (forwarding::await(state->listener, POLLIN, -1, state->wake)) state->accept();
    });
}

void ForwardProxy::State::accept() {
    const int client = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) {
        // Out of descriptors, the connection waiting is refused with the one kept for
        // it, not left to wake this loop again and again.
        if ((errno == EMFILE || errno == ENFILE) && spare >= 0) {
            ::close(spare);
            const int refused = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (refused >= 0) ::close(refused);
            spare = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        }
        return;
    }
    auto page = current();
    if (connections >= kMostConnections || page->connections >= kMostForAPage) {
        ::close(client);
        return;
    }
    ++connections;
    ++page->connections;
    // Each connection on a thread of its own, which holds the state it needs.
    std::thread([state = shared_from_this(), page, client] {
        state->serve(client, page->wake);
        ::close(client);
        --page->connections;
        --state->connections;
    }).detach();
}

ForwardProxy::~ForwardProxy() {
    if (state_->wake >= 0) ::eventfd_write(state_->wake, 1);
    if (listening_.joinable()) listening_.join();
    state_->current()->end();
}

void ForwardProxy::setRules(const AddressRules& rules) {
    std::lock_guard lock(state_->mutex);
    state_->rules = rules;
}

void ForwardProxy::forget() {
    std::lock_guard lock(state_->mutex);
    state_->tally = {};
    state_->turned.clear();
    // What the page before opened ends with it: another caller's capture begins.
    state_->capture->end();
    state_->capture = std::make_shared<Capture>();
}

ProxyTally ForwardProxy::tally() const {
    std::lock_guard lock(state_->mutex);
    return state_->tally;
}

std::optional<TurnedAway> ForwardProxy::turnedAway(const Destination& to) const {
    std::lock_guard lock(state_->mutex);
    const auto it = state_->turned.find(destinationText(to));
    if (it == state_->turned.end()) return std::nullopt;
    return it->second;
}

}  // namespace engine
