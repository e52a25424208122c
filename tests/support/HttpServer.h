// A small HTTP server on 127.0.0.1 (or another loopback address) for the tests' pages,
// on a port of its own.
#pragma once

#include <atomic>
#include <functional>
#include <map>
#include <set>
#include <vector>
#include <mutex>
#include <string>
#include <thread>

namespace support {

class HttpServer {
public:
    // `address`: a loopback address to listen on, IPv4 or IPv6 ("127.0.0.2", "::1").
    explicit HttpServer(const std::string& address = "127.0.0.1");
    ~HttpServer();
    // Serves `content` at `path`: as an SVG image for a name ending in .svg, else as HTML.
    void serve(const std::string& path, const std::string& content);
    std::string url(const std::string& path) const;
    // Requests for `path` are answered by `answer`, given the request's head; it returns
    // the whole response after the status line's "HTTP/1.1 " (status, headers, body).
    void respond(const std::string& path, std::function<std::string(const std::string& head)> answer);
    // Requests for `path` are read and never answered.
    void stall(const std::string& path);
    // Requests for `path` are answered `ms` milliseconds late, other requests meanwhile at once.
    void late(const std::string& path, int ms);
    int port() const { return port_; }
    // The paths of every request it has read so far, in order.
    std::vector<std::string> requested();

private:
    void loop();
    std::string address_;
    int port_ = 0;  // before listener_: the listener sets it
    int listener_ = -1;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::map<std::string, std::string> pages_;
    std::set<std::string> stalled_;
    std::map<std::string, int> late_;
    std::map<std::string, std::function<std::string(const std::string&)>> answers_;
    std::vector<std::thread> answering_;
    std::vector<int> held_;
    std::vector<std::string> requested_;
    std::thread thread_;
};

// A loopback address where nothing listens.
std::string unreachableUrl(const std::string& path);

}  // namespace support
