// The service as operators run it: two behind nginx (Debian's, with the site the
// package ships) while one is stopped, and one under a bounded chaos of pages and
// clients that misbehave. On loopback only.
#include <gtest/gtest.h>

#include <cstdio>
#include <signal.h>
#include <sys/socket.h>
#include <netinet/in.h>
#include <arpa/inet.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <thread>

#include "tests/support/Command.h"
#include "tests/support/HttpServer.h"
#include "tests/support/Nginx.h"
#include "tests/support/ServiceProcess.h"

namespace {

std::string solid(const char* colour, int height = 2000) {
    return std::string("<!doctype html><body style='margin:0;background:") + colour + "'><div style='height:" +
           std::to_string(height) + "px'></div>";
}

TEST(ServiceFleet, TwoServicesBehindNginxAnswerEveryRequestWhileOneIsStopped) {
    if (!support::Nginx::installed()) GTEST_SKIP() << "nginx is not installed";
    support::HttpServer pages;
    const std::pair<const char*, std::uint32_t> colours[] = {{"#f00", 0xff0000}, {"#0f0", 0x00ff00}, {"#00f", 0x0000ff},
                                                             {"#ff0", 0xffff00}};
    for (int i = 0; i < 4; ++i) pages.serve("/p" + std::to_string(i), solid(colours[i].first));
    auto first = std::make_unique<support::ServiceProcess>(std::vector<std::string>{"--jobs=1", "--queue=32", "--allow-private"});
    support::ServiceProcess second({"--jobs=1", "--queue=32", "--allow-private"});
    support::Nginx nginx({first->port(), second.port()});

    std::atomic<int> answered{0}, right{0};
    std::vector<std::string> wrong(4);
    std::vector<std::thread> clients;
    for (int c = 0; c < 4; ++c)
        clients.emplace_back([&, c] {
            for (int i = 0; i < 10; ++i) {
                const auto r = support::httpRequest(nginx.port(), "GET", support::shotOf(pages.url("/p" + std::to_string(c))));
                const auto p = r.status == 200 ? support::answerPicture(r, "png") : std::nullopt;
                if (p && p->height == 2000 && p->at(5, 1990) == colours[c].second) ++right;
                else if (wrong[c].empty()) wrong[c] = std::to_string(r.status) + " " + r.body.substr(0, 200);
                ++answered;
            }
        });
    // Half-way, the first service is stopped as systemd stops it.
    ASSERT_TRUE(support::eventually([&] { return answered >= 20; }));
    EXPECT_EQ(first->stop(), 0) << first->log();
    for (auto& t : clients) t.join();
    EXPECT_EQ(right, 40) << wrong[0] << wrong[1] << wrong[2] << wrong[3];
}

// A client that sends its request a few bytes at a time, and one that leaves before
// its answer.
int rawRequest(int port, const std::string& request, int pauseMs, bool leave) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) return ::close(fd), -1;
    for (std::size_t at = 0; at < request.size(); at += 16) {
        if (::send(fd, request.data() + at, std::min<std::size_t>(16, request.size() - at), MSG_NOSIGNAL) <= 0) break;
        if (pauseMs) std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs));
    }
    if (leave) return ::close(fd), 0;
    char head[16] = {};
    const ssize_t n = ::recv(fd, head, sizeof head - 1, MSG_WAITALL);
    ::close(fd);
    return n >= 12 ? std::atoi(head + 9) : 0;
}

TEST(ServiceFleet, ThreeHundredRequestsOfChaosAreEachAnsweredRightAndLeaveNothing) {
    support::HttpServer pages;
    const std::pair<const char*, std::uint32_t> colours[] = {{"#f00", 0xff0000}, {"#0f0", 0x00ff00}, {"#00f", 0x0000ff}};
    for (int i = 0; i < 3; ++i) pages.serve("/p" + std::to_string(i), solid(colours[i].first));
    pages.serve("/endless", "<!doctype html><body>busy<script>for (;;) {}</script>");
    pages.serve("/bomb", "<!doctype html><body><script>const k = []; (function eat() { for (let i = 0; i < 40; i++) "
                         "k.push(new Float64Array(1 << 20).fill(Math.random())); setTimeout(eat, 0); })();</script>");
    pages.serve("/slow", solid("#0ff"));
    pages.late("/slow", 3000);
    pages.stall("/never.png");
    pages.serve("/hanging-image", "<!doctype html><body style='background:#ff0'><img src='/never.png'>");
    pages.respond("/loop", [&](const std::string&) {
        return "302 Found\r\nLocation: " + pages.url("/loop") + "\r\nContent-Length: 0\r\n\r\n";
    });
    support::ServiceProcess s({"--jobs=2", "--queue=64", "--max-memory=400", "--allow-private"});

    struct Kind {
        std::string target;
        int status;
        std::uint32_t colour;  // of a picture answered
    };
    const std::vector<Kind> odd = {
        {support::shotOf(pages.url("/endless"), "&timeout=3"), 504, 0},
        {support::shotOf(pages.url("/bomb"), "&timeout=20"), 422, 0},
        {support::shotOf(pages.url("/loop")), 422, 0},
        {support::shotOf("http://127.0.0.1:25/"), 422, 0},
        {support::shotOf(pages.url("/hanging-image"), "&timeout=3"), 200, 0xffff00},
    };
    std::atomic<int> sent{0}, right{0}, kills{0};
    std::vector<std::string> wrong;  // every answer that was wrong, and why
    long residentAt50 = 0;
    std::mutex mutex;
    const auto began = std::chrono::steady_clock::now();
    auto fault = [&](int n, const std::string& target, int expected, int status, const std::string& why) {
        const auto at = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - began);
        std::lock_guard<std::mutex> lock(mutex);
        wrong.push_back("request " + std::to_string(n) + " at " + std::to_string(at.count()) + " ms, " + target +
                        ": expected " + std::to_string(expected) + ", answered " + std::to_string(status) + ": " + why);
    };
    auto said = [](const support::HttpReply& r) { return r.body.substr(0, r.status == 200 ? 0 : 300); };
    auto resident = [&] { return support::residentKiB(support::processesOf("", s.tag())); };
    std::vector<std::thread> clients;
    for (int c = 0; c < 6; ++c)
        clients.emplace_back([&] {
            for (int n; (n = sent++) < 300;) {
                if (n == 50) {
                    std::lock_guard<std::mutex> lock(mutex);
                    residentAt50 = resident();
                }
                Kind k{support::shotOf(pages.url("/p" + std::to_string(n % 3))), 200, colours[n % 3].second};
                if (n % 20 == 7) k = odd[(n / 20) % odd.size()];
                int status = 0;
                std::optional<support::Picture> p;
                if (n % 50 == 11) {
                    // A slow client: its request a few bytes at a time.
                    status = rawRequest(s.port(), "GET " + k.target + " HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n", 5, false);
                    p = status == 200 ? std::optional<support::Picture>(support::Picture{}) : std::nullopt;
                } else if (n % 50 == 23) {
                    // A client that leaves before its answer: nothing to check but what follows.
                    rawRequest(s.port(), "GET " + support::shotOf(pages.url("/slow")) + " HTTP/1.1\r\nHost: x\r\n\r\n", 0, true);
                    ++right;
                    continue;
                } else if (n % 100 == 41) {
                    // A web process killed while it loads a slow page.
                    std::thread killer([&] {
                        support::eventually([&] { return !support::processesOf("WebKitWebProces", s.tag()).empty(); });
                        ++kills;
                        for (pid_t pid : support::processesOf("WebKitWebProces", s.tag())) ::kill(pid, SIGKILL);
                    });
                    const auto r = s.get(support::shotOf(pages.url("/slow")));
                    killer.join();
                    // Killed in time, it failed with its reason; else it was photographed.
                    if (r.status == 422 || (r.status == 200 && support::answerPicture(r, "png"))) ++right;
                    else fault(n, "/slow, its web process killed", 422, r.status,
                               r.status == 200 ? "a picture that cannot be read" : said(r));
                    continue;
                } else {
                    const auto r = s.get(k.target);
                    status = r.status;
                    if (status == 200) p = support::answerPicture(r, "png");
                    // The kill above ends whatever web process runs then, this one's too: said as such.
                    const bool killed = kills > 0 && status == 422 && r.body.find("ended unexpectedly") != std::string::npos;
                    char colour[16] = "";
                    if (p && p->width > 5 && p->height > 5) std::snprintf(colour, sizeof colour, "#%06x", p->at(5, 5));
                    if (killed) ++right;
                    else if (status != k.status) fault(n, k.target, k.status, status, said(r));
                    else if (status == 200 && !p) fault(n, k.target, k.status, status, "a picture that cannot be read");
                    else if (status == 200 && k.colour && p->at(5, 5) != k.colour)
                        fault(n, k.target, k.status, status, std::string("a picture of the wrong page: ") + colour);
                    else
                        ++right;
                    continue;
                }
                if (status == k.status) ++right;
                else fault(n, k.target + " (sent slowly)", k.status, status, "see the log");
            }
        });
    for (auto& t : clients) t.join();
    const std::string log = s.log();
    std::string faults;
    for (const auto& w : wrong) faults += w + "\n";
    EXPECT_EQ(right, 300) << faults << "the service's log, at its end:\n"
                          << log.substr(log.size() > 6000 ? log.size() - 6000 : 0);
    EXPECT_TRUE(support::eventually([&] { return s.get("/health").body.find("\"busy\":0") != std::string::npos; }));
    const long residentAt300 = resident();
    EXPECT_LE(residentAt300, residentAt50 * 12 / 10) << residentAt50 << " KiB after 50, " << residentAt300 << " after 300";
    EXPECT_EQ(s.stop(), 0);
    EXPECT_TRUE(support::eventually([&] { return support::processesOf("", s.tag()).empty(); }))
        << support::processesOf("", s.tag()).size() << " processes left";
}

}  // namespace
