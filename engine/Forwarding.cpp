#include "engine/Forwarding.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace engine::forwarding {

namespace {

std::string lower(std::string s) {
    for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

}  // namespace

bool sendAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
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
    for (const auto& a : addresses) {
        const int fd = ::socket(a.ss_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (fd < 0) {
            code = errno;
            continue;
        }
        const socklen_t len = a.ss_family == AF_INET ? sizeof(sockaddr_in) : sizeof(sockaddr_in6);
        int failed = ::connect(fd, reinterpret_cast<const sockaddr*>(&a), len) == 0 ? 0 : errno;
        if (failed == EINPROGRESS) {
            if (!await(fd, POLLOUT, ms, wake)) {
                failed = ETIMEDOUT;
            } else {
                socklen_t l = sizeof failed;
                ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &failed, &l);
            }
        }
        if (failed == 0) return fd;
        code = failed;
        ::close(fd);
    }
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
        if (::poll(p, static_cast<nfds_t>(n + 1), -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (p[n].revents) return;
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
