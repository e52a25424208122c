#include "tests/support/HttpClient.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>

namespace support {

namespace {

HttpReply exchange(int fd, const std::string& method, const std::string& target, const std::vector<std::string>& headers,
                   const std::string& body, int timeoutMs);
void sendRequest(int fd, const std::string& method, const std::string& target, const std::vector<std::string>& headers,
                 const std::string& body, bool keepAlive);
HttpReply parseReply(const std::string& all, bool& whole);

}  // namespace

HttpReply httpRequest(int port, const std::string& method, const std::string& target,
                      const std::vector<std::string>& headers, const std::string& body, int timeoutMs) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<uint16_t>(port));
    if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        if (fd >= 0) ::close(fd);
        return {};
    }
    return exchange(fd, method, target, headers, body, timeoutMs);
}

int connectLoopback(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<uint16_t>(port));
    if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) return fd;
    if (fd >= 0) ::close(fd);
    return -1;
}

std::string readUntilClosed(int fd, int timeoutMs) {
    std::string all;
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
        pollfd p{fd, POLLIN, 0};
        if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0) return all;
        char buf[4096];
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0) return all;
        all.append(buf, static_cast<std::size_t>(n));
    }
}

bool closedQuietly(int fd, int timeoutMs) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, timeoutMs) <= 0) return false;
    char c;
    return ::recv(fd, &c, 1, 0) <= 0;
}

HttpReply askKeepingAlive(int fd, const std::string& target, int timeoutMs) {
    sendRequest(fd, "GET", target, {}, {}, true);
    std::string all;
    bool whole = false;
    HttpReply reply;
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!whole && std::chrono::steady_clock::now() < until) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0) continue;
        char buf[65536];
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0) break;
        all.append(buf, static_cast<std::size_t>(n));
        reply = parseReply(all, whole);
    }
    return whole ? reply : HttpReply{};
}

HttpReply httpRequest(const std::string& socketPath, const std::string& method, const std::string& target) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", socketPath.c_str());
    if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        if (fd >= 0) ::close(fd);
        return {};
    }
    return exchange(fd, method, target, {}, {}, 120000);
}

namespace {

void sendRequest(int fd, const std::string& method, const std::string& target, const std::vector<std::string>& headers,
                 const std::string& body, bool keepAlive) {
    std::string request = method + " " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n";
    if (!keepAlive) request += "Connection: close\r\n";
    for (const auto& h : headers) request += h + "\r\n";
    if (!body.empty() || method == "POST") request += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    request += "\r\n" + body;
    for (std::size_t sent = 0; sent < request.size();) {
        const ssize_t n = ::send(fd, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) break;
        sent += static_cast<std::size_t>(n);
    }
}

// The reply at the start of `all`; `whole` false while its body has not all come.
HttpReply parseReply(const std::string& all, bool& whole) {
    HttpReply reply;
    whole = false;
    const auto end = all.find("\r\n\r\n");
    if (all.rfind("HTTP/1.1 ", 0) != 0 || end == std::string::npos) return reply;
    reply.status = std::atoi(all.c_str() + 9);
    std::size_t at = all.find("\r\n") + 2;
    while (at < end) {
        const auto next = all.find("\r\n", at);
        const std::string line = all.substr(at, next - at);
        const auto colon = line.find(':');
        if (colon != std::string::npos) {
            std::string name = line.substr(0, colon);
            std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
            reply.headers[name] = line.substr(line.find_first_not_of(' ', colon + 1));
        }
        at = next + 2;
    }
    reply.body = all.substr(end + 4);
    const auto length = reply.headers.find("content-length");
    whole = length != reply.headers.end() && std::stoul(length->second) == reply.body.size();
    // A reply cut short is no reply.
    if (length != reply.headers.end() && !whole) reply.status = 0;
    return reply;
}

HttpReply exchange(int fd, const std::string& method, const std::string& target, const std::vector<std::string>& headers,
                   const std::string& body, int timeoutMs) {
    sendRequest(fd, method, target, headers, body, false);
    std::string all;
    char buf[65536];
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < until) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0) continue;
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0) break;
        all.append(buf, static_cast<std::size_t>(n));
    }
    ::close(fd);
    bool whole;
    return parseReply(all, whole);
}

}  // namespace

int freePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    socklen_t len = sizeof addr;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    ::close(fd);
    return ntohs(addr.sin_port);
}

}  // namespace support
