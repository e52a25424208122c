#include "tests/support/HttpServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>

namespace support {

namespace {
int listenOnLoopback(int& port, const std::string& address = "127.0.0.1") {
    sockaddr_storage addr{};
    auto* v4 = reinterpret_cast<sockaddr_in*>(&addr);
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&addr);
    const bool six = address.find(':') != std::string::npos;
    socklen_t len = six ? sizeof *v6 : sizeof *v4;
    if (six ? ::inet_pton(AF_INET6, address.c_str(), &v6->sin6_addr) != 1 : ::inet_pton(AF_INET, address.c_str(), &v4->sin_addr) != 1)
        throw std::runtime_error("not an address: " + address);
    addr.ss_family = six ? AF_INET6 : AF_INET;
    const int fd = ::socket(addr.ss_family, SOCK_STREAM, 0);
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&addr), len) != 0 || ::listen(fd, 16) != 0) {
        if (fd >= 0) ::close(fd);
        throw std::runtime_error("cannot listen on " + address);
    }
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    port = ntohs(six ? v6->sin6_port : v4->sin_port);
    return fd;
}
}  // namespace

HttpServer::HttpServer(const std::string& address)
    : address_(address), listener_(listenOnLoopback(port_, address)), thread_([this] { loop(); }) {}

std::vector<std::string> HttpServer::requested() {
    std::lock_guard lock(mutex_);
    return requested_;
}

HttpServer::~HttpServer() {
    stop_ = true;
    thread_.join();
    for (auto& t : answering_) t.join();
    for (int c : held_) ::close(c);
    ::close(listener_);
}

void HttpServer::stall(const std::string& path) {
    std::lock_guard lock(mutex_);
    stalled_.insert(path);
}

void HttpServer::respond(const std::string& path, std::function<std::string(const std::string&)> answer) {
    std::lock_guard lock(mutex_);
    answers_[path] = std::move(answer);
}

void HttpServer::late(const std::string& path, int ms) {
    std::lock_guard lock(mutex_);
    late_[path] = ms;
}

void HttpServer::serve(const std::string& path, const std::string& content) {
    std::lock_guard lock(mutex_);
    pages_[path] = content;
}

std::string HttpServer::url(const std::string& path) const {
    const bool six = address_.find(':') != std::string::npos;
    return "http://" + (six ? "[" + address_ + "]" : address_) + ":" + std::to_string(port_) + path;
}

void HttpServer::loop() {
    while (!stop_) {
        pollfd p{listener_, POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0) continue;
        const int client = ::accept(listener_, nullptr, nullptr);
        if (client < 0) continue;
        std::string request;
        char buf[4096];
        while (request.find("\r\n\r\n") == std::string::npos) {
            pollfd c{client, POLLIN, 0};
            if (::poll(&c, 1, 2000) <= 0) break;
            const ssize_t n = ::recv(client, buf, sizeof buf, 0);
            if (n <= 0) break;
            request.append(buf, static_cast<std::size_t>(n));
        }
        const auto sp1 = request.find(' '), sp2 = request.find(' ', sp1 + 1);
        std::string path = sp1 == std::string::npos ? "/" : request.substr(sp1 + 1, sp2 - sp1 - 1);
        path = path.substr(0, path.find('?'));
        std::string body, status = "200 OK";
        int delayMs = 0;
        std::function<std::string(const std::string&)> made;
        {
            std::lock_guard lock(mutex_);
            requested_.push_back(path);
            if (stalled_.count(path)) {
                held_.push_back(client);  // answered never: closed with the server
                continue;
            }
            if (auto l = late_.find(path); l != late_.end()) delayMs = l->second;
            if (auto a = answers_.find(path); a != answers_.end()) made = a->second;
            auto it = pages_.find(path);
            if (it == pages_.end())
                status = "404 Not Found";
            else
                body = it->second;
        }
        auto ends = [&](const char* e) {
            const std::string x(e);
            return path.size() > x.size() && path.compare(path.size() - x.size(), x.size(), x) == 0;
        };
        const std::string type = ends(".svg") ? "image/svg+xml" : ends(".ttf") ? "font/ttf" : "text/html; charset=utf-8";
        std::string madeAnswer = made ? made(request) : "";
        if (made) madeAnswer.insert(madeAnswer.find("\r\n") + 2, "Connection: close\r\n");  // as every answer here
        const std::string response = made ? "HTTP/1.1 " + madeAnswer : "HTTP/1.1 " + status + "\r\nContent-Type: " + type +
                                     "\r\nCache-Control: no-store\r\n"
                                     "Connection: close\r\nContent-Length: " +
                                     std::to_string(body.size()) + "\r\n\r\n" + body;
        auto answer = [client, response, delayMs, this] {
            for (int waited = 0; waited < delayMs && !stop_; waited += 10)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            std::size_t sent = 0;
            while (sent < response.size()) {
                const ssize_t n = ::send(client, response.data() + sent, response.size() - sent, MSG_NOSIGNAL);
                if (n <= 0) break;
                sent += static_cast<std::size_t>(n);
            }
            ::close(client);
        };
        if (delayMs > 0) answering_.emplace_back(answer);
        else answer();
    }
}

std::string unreachableUrl(const std::string& path) {
    // Bind a port and close it again: nothing listens there afterwards.
    int port = 0;
    const int fd = listenOnLoopback(port);
    ::close(fd);
    return "http://127.0.0.1:" + std::to_string(port) + path;
}

}  // namespace support
