#include "engine/Forwarding.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

namespace engine::forwarding {

namespace {

std::string lower(std::string s) {
    for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

}  // namespace

bool sendAll(int fd, const char* data, std::size_t size, int wake) {
    while (size > 0) {
        const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        // A socket that takes no more for now takes the rest once it has room.
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (!await(fd, POLLOUT, kStalledMs, wake)) return false;
            continue;
        }
        if (n <= 0) return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

void answer(int client, const char* status) {
    const std::string text = std::string("HTTP/1.1 ") + status +
                             "\r\nContent-Length: 0\r\nCache-Control: no-store\r\nConnection: close\r\n\r\n";
    sendAll(client, text.data(), text.size());
}

bool await(int fd, short events, int ms, int wake) {
    pollfd p[2] = {{fd, events, 0}, {wake, POLLIN, 0}};
    while (true) {
        const int n = ::poll(p, 2, ms);
        if (n < 0 && errno == EINTR) continue;
        return n > 0 && !(p[1].revents & POLLIN) && p[0].revents;
    }
}

int connectTo(const std::vector<sockaddr_storage>& addresses, int ms, int wake, int& code) {
    // The families taken in turn (the resolver's first, then the other), each attempt
    // started 250 ms after the one before unless that one fails sooner; the first that
    // answers is taken. A dead route of one family costs a quarter of a second.
    std::vector<const sockaddr_storage*> order, other;
    for (const auto& a : addresses) (a.ss_family == addresses.front().ss_family ? order : other).push_back(&a);
    for (std::size_t i = 0; i < other.size(); ++i)
        order.insert(order.begin() + static_cast<long>(std::min(order.size(), 2 * i + 1)), other[i]);
    struct Attempt {
        int fd;
        std::chrono::steady_clock::time_point until;
    };
    std::vector<Attempt> pending;
    auto closeAll = [&] {
        for (const auto& p : pending) ::close(p.fd);
    };
    std::size_t next = 0;
    auto started = std::chrono::steady_clock::now() - std::chrono::hours(1);
    while (true) {
        const auto now = std::chrono::steady_clock::now();
        if (next < order.size() && (pending.empty() || now - started >= std::chrono::milliseconds(kNextAttemptMs))) {
            const auto& a = *order[next++];
            started = now;
            const int fd = ::socket(a.ss_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
            if (fd < 0) {
                code = errno;
                continue;
            }
            const socklen_t len = a.ss_family == AF_INET ? sizeof(sockaddr_in) : sizeof(sockaddr_in6);
            const int failed = ::connect(fd, reinterpret_cast<const sockaddr*>(&a), len) == 0 ? 0 : errno;
            if (failed == 0) {
                closeAll();
                return fd;
            }
            if (failed != EINPROGRESS) {
                code = failed;
                ::close(fd);
                continue;
            }
            pending.push_back({fd, now + std::chrono::milliseconds(ms)});
        }
        if (pending.empty()) return -1;
        // Until an attempt answers, the next is due, or the first still waiting gives up.
        auto due = pending.front().until;
        for (const auto& p : pending) due = std::min(due, p.until);
        if (next < order.size()) due = std::min(due, started + std::chrono::milliseconds(kNextAttemptMs));
        std::vector<pollfd> p;
        for (const auto& attempt : pending) p.push_back({attempt.fd, POLLOUT, 0});
        p.push_back({wake, POLLIN, 0});
        const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(due - now).count();
        const int n = ::poll(p.data(), p.size(), static_cast<int>(std::max<long>(0, wait)));
        if (n < 0 && errno != EINTR) break;
        if (p.back().revents) break;  // the proxy stops
        const auto later = std::chrono::steady_clock::now();
        for (std::size_t i = pending.size(); i-- > 0;) {
            int failed = ETIMEDOUT;
            if (p[i].revents) {
                socklen_t l = sizeof failed;
                ::getsockopt(pending[i].fd, SOL_SOCKET, SO_ERROR, &failed, &l);
            } else if (later < pending[i].until) {
                continue;
            }
            if (failed == 0) {
                const int fd = pending[i].fd;
                pending.erase(pending.begin() + static_cast<long>(i));
                closeAll();
                return fd;
            }
            code = failed;
            ::close(pending[i].fd);
            pending.erase(pending.begin() + static_cast<long>(i));
            started -= std::chrono::hours(1);  // a failure starts the next at once
        }
    }
    closeAll();
    return -1;
}

void relay(int a, int b, int wake) {
    ::fcntl(a, F_SETFL, ::fcntl(a, F_GETFL) | O_NONBLOCK);
    ::fcntl(b, F_SETFL, ::fcntl(b, F_GETFL) | O_NONBLOCK);
    struct Way {
        int from, to;
        std::vector<char> buffer;
        std::size_t size = 0, sent = 0;
        bool ended = false;
    } ways[2] = {{a, b, std::vector<char>(64 * 1024)}, {b, a, std::vector<char>(64 * 1024)}};
    // A connection nothing passes through for a while ends, and so does one whose
    // client has said all it will and whose destination does not end it soon after.
    using Clock = std::chrono::steady_clock;
    auto until = Clock::now() + std::chrono::milliseconds(kIdleMs);
    while (!(ways[0].ended && ways[1].ended)) {
        pollfd p[5];
        int n = 0;
        int index[4] = {-1, -1, -1, -1};  // which way each entry serves, and whether it reads (even) or writes (odd)
        for (int w = 0; w < 2; ++w) {
            auto& way = ways[w];
            if (way.ended) continue;
            if (way.sent < way.size) {
                p[n] = {way.to, POLLOUT, 0};
                index[n++] = w * 2 + 1;
            } else {
                p[n] = {way.from, POLLIN, 0};
                index[n++] = w * 2;
            }
        }
        p[n] = {wake, POLLIN, 0};
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
        if (left <= 0) return;
        const int ready = ::poll(p, static_cast<nfds_t>(n + 1), static_cast<int>(left));
        if (ready < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (ready == 0 || p[n].revents) return;
        if (!ways[0].ended) until = Clock::now() + std::chrono::milliseconds(kIdleMs);
        for (int i = 0; i < n; ++i) {
            if (!p[i].revents) continue;
            auto& way = ways[index[i] / 2];
            if (index[i] % 2 == 0) {
                const ssize_t got = ::recv(way.from, way.buffer.data(), way.buffer.size(), 0);
                if (got < 0 && (errno == EAGAIN || errno == EINTR)) continue;
                if (got < 0 && !(p[i].revents & POLLHUP)) return;
                if (got <= 0) {
                    // The destination has answered all it will: the connection is over.
                    if (way.from == b) return;
                    way.ended = true;
                    ::shutdown(way.to, SHUT_WR);
                    until = Clock::now() + std::chrono::milliseconds(kHalfClosedMs);
                    continue;
                }
                way.size = static_cast<std::size_t>(got);
                way.sent = 0;
            } else {
                const ssize_t put = ::send(way.to, way.buffer.data() + way.sent, way.size - way.sent, MSG_NOSIGNAL);
                if (put < 0 && (errno == EAGAIN || errno == EINTR)) continue;
                if (put <= 0) return;
                way.sent += static_cast<std::size_t>(put);
            }
        }
    }
}

std::optional<Head> parseHead(const std::string& text) {
    Head h;
    std::size_t at = 0;
    bool first = true;
    while (at < text.size()) {
        const auto end = text.find("\r\n", at);
        const std::string line = text.substr(at, end - at);
        at = end == std::string::npos ? text.size() : end + 2;
        if (line.empty()) break;
        if (first) {
            const auto sp1 = line.find(' '), sp2 = line.rfind(' ');
            if (sp1 == std::string::npos || sp2 == sp1) return std::nullopt;
            h.method = line.substr(0, sp1);
            h.target = line.substr(sp1 + 1, sp2 - sp1 - 1);
            h.version = line.substr(sp2 + 1);
            first = false;
        } else {
            h.lines.push_back(line);
        }
    }
    if (first) return std::nullopt;
    return h;
}

std::string forwardedHead(const Head& h, const std::string& path) {
    bool upgrade = false;
    for (const auto& l : h.lines) upgrade |= lower(l.substr(0, l.find(':'))) == "upgrade";
    std::string out = h.method + " " + path + " " + h.version + "\r\n";
    for (const auto& l : h.lines) {
        const std::string name = lower(l.substr(0, l.find(':')));
        if (name == "proxy-connection" || name == "proxy-authorization" || (!upgrade && (name == "connection" || name == "keep-alive")))
            continue;
        out += l + "\r\n";
    }
    if (!upgrade) out += "Connection: close\r\n";
    return out + "\r\n";
}

}  // namespace engine::forwarding
