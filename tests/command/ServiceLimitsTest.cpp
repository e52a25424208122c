// What the operator bounds, each limit hit: connections, idle and slow clients, bodies sent in
// chunks, time limits; clients that leave; engines that are told to end; the log; and
// the addresses pages may reach on TCP.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <thread>

#include "tests/support/Command.h"
#include "tests/support/HttpServer.h"
#include "tests/support/ServiceProcess.h"

namespace {

std::string solid(const char* colour) {
    return std::string("<!doctype html><body style='margin:0;background:") + colour + "'><div style='height:600px'></div>";
}

void send(int fd, const std::string& text) { ::send(fd, text.data(), text.size(), MSG_NOSIGNAL); }

TEST(ServiceLimits, ConnectionsIdleOrSlowClientsChunkedBodiesAndTimeLimitsAreBounded) {
    support::ServiceProcess s({"--jobs=1", "--max-connections=4", "--client-timeout=3", "--max-timeout=20", "--allow-private"});
    // Four connections held open: a fifth is closed at once, and served again once they go.
    std::vector<int> held;
    for (int i = 0; i < 4; ++i) held.push_back(support::connectLoopback(s.port()));
    EXPECT_TRUE(support::eventually([&] {
        const int fd = support::connectLoopback(s.port());
        send(fd, "GET /health HTTP/1.1\r\nHost: x\r\n\r\n");
        const bool closed = support::readUntilClosed(fd, 2000).empty();
        ::close(fd);
        return closed;
    }));
    // A slow client (its head never ends) is closed after --client-timeout.
    send(held[0], "GET /health HTTP/1.1\r\nHo");
    EXPECT_TRUE(support::closedQuietly(held[0], 30000)) << "the slow client was not cut";
    for (int fd : held) ::close(fd);
    EXPECT_TRUE(support::eventually([&] { return s.get("/health", 2000).status == 200; }));

    // A kept-alive connection takes request after request; once idle, it is closed after
    // twice --client-timeout, counted again from each answer: after a first request sent as
    // the connection opens (read and answered as the service takes the connection) as after
    // a later one.
    std::vector<int> kepts;
    for (int i = 0; i < 3; ++i) {
        kepts.push_back(support::connectLoopback(s.port()));
        EXPECT_EQ(support::askKeepingAlive(kepts.back(), "/health").status, 200);
    }
    const int kept = kepts.front();
    EXPECT_EQ(support::askKeepingAlive(kept, "/metrics").status, 200) << "the connection was not kept";
    // Past the time for a request, within the idle time: a connection opened now that sends
    // nothing is closed once the time for a request is out.
    const int probe = support::connectLoopback(s.port());
    EXPECT_TRUE(support::closedQuietly(probe, 30000)) << "a connection that sent nothing was not cut";
    ::close(probe);
    for (int fd : kepts)
        EXPECT_EQ(support::askKeepingAlive(fd, "/health").status, 200) << "idle past the time for a request, the connection was closed";
    for (std::size_t i = 1; i < kepts.size(); ++i) ::close(kepts[i]);
    const auto answered = std::chrono::steady_clock::now();
    EXPECT_TRUE(support::closedQuietly(kept, 20000)) << "the idle connection was not closed";
    const auto idle = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - answered);
    EXPECT_GE(idle.count(), 5000) << "closed before its idle time from the last answer";
    ::close(kept);

    // A body in chunks is refused as soon as it passes 64 KiB, before it ends.
    const int chunked = support::connectLoopback(s.port());
    send(chunked, "POST /shot HTTP/1.1\r\nHost: x\r\nContent-Type: application/json\r\nTransfer-Encoding: chunked\r\n\r\n");
    const std::string chunk(8192, ' ');
    for (int i = 0; i < 10; ++i) send(chunked, "2000\r\n" + chunk + "\r\n");
    const auto refused = support::readUntilClosed(chunked, 10000);
    ::close(chunked);
    EXPECT_EQ(refused.rfind("HTTP/1.1 413", 0), 0u) << refused;

    // A body said to be larger than 64 KiB is refused before it comes.
    const int declared = support::connectLoopback(s.port());
    send(declared, "POST /shot HTTP/1.1\r\nHost: x\r\nContent-Type: application/json\r\nContent-Length: 100000\r\n\r\n");
    const auto said = support::readUntilClosed(declared, 5000);
    ::close(declared);
    EXPECT_EQ(said.rfind("HTTP/1.1 413", 0), 0u) << said;

    // A time limit over the operator's, or a wait as long as the limit, is refused.
    EXPECT_EQ(s.get(support::shotOf("http://127.0.0.1:9/", "&timeout=21")).status, 400);
    EXPECT_EQ(s.get(support::shotOf("http://127.0.0.1:9/", "&timeout=5&wait=5000")).status, 400);

}

TEST(ServiceLimits, ClientsThatLeaveTakeTheirCaptureAndEnginesEndWhenToldOrLost) {
    support::HttpServer pages;
    pages.stall("/stalled");
    pages.serve("/green", solid("#0f0"));
    support::ServiceProcess s({"--jobs=1", "--max-timeout=60", "--allow-private"});
    auto leave = [&](const std::string& target) {
        const int fd = support::connectLoopback(s.port());
        send(fd, "GET " + target + " HTTP/1.1\r\nHost: x\r\n\r\n");
        return fd;
    };
    // One client's page stalls for up to a minute, another's waits behind it: both leave.
    const int first = leave(support::shotOf(pages.url("/stalled"), "&timeout=60"));
    ASSERT_TRUE(support::eventually([&] { return s.get("/health").body.find("\"busy\":1") != std::string::npos; }));
    const int second = leave(support::shotOf(pages.url("/green")));
    ASSERT_TRUE(support::eventually([&] { return s.get("/health").body.find("\"queued\":1") != std::string::npos; }));
    ::close(second);
    EXPECT_TRUE(support::eventually([&] { return s.get("/health").body.find("\"queued\":0") != std::string::npos; }));
    ::close(first);
    // The stalled page is stopped, not waited for: the next caller is answered well within
    // the minute it would have held the engine.
    const auto r = s.get(support::shotOf(pages.url("/green")), 45000);
    EXPECT_EQ(r.status, 200) << "the stalled page was waited for: " << r.body;
    // They are logged and counted as clients that left, not as a service unavailable.
    const auto metrics = s.get("/metrics").body;
    EXPECT_NE(metrics.find("vemo_requests_total{status=\"client-left\"} 2"), std::string::npos) << metrics;
    EXPECT_EQ(metrics.find("status=\"unavailable\""), std::string::npos) << metrics;
    EXPECT_NE(s.log().find("GET /shot 499"), std::string::npos) << s.log();

    // Engines are counted apart by why they were replaced: stopped for a client that
    // left, retired after a login (which an engine keeps), or ended unexpectedly.
    auto counted = [&](const std::vector<std::string>& lines) {
        const auto m = s.get("/metrics").body;
        return std::all_of(lines.begin(), lines.end(), [&](const std::string& l) { return m.find(l + "\n") != m.npos; });
    };
    EXPECT_TRUE(support::eventually([&] {
        return counted({"vemo_engine_stopped_client_left_total 1", "vemo_engine_restarts_total 0"});
    })) << s.get("/metrics").body;
    pages.respond("/login", [](const std::string& head) {
        if (head.find("\r\nAuthorization: Basic ") != std::string::npos)
            return "200 OK\r\nContent-Type: text/html\r\nContent-Length: " + std::to_string(solid("#0f0").size()) + "\r\n\r\n" +
                   solid("#0f0");
        return std::string("401 Unauthorized\r\nWWW-Authenticate: Basic realm=\"r\"\r\nContent-Length: 0\r\n\r\n");
    });
    EXPECT_EQ(s.get(support::shotOf(pages.url("/login"), "&user=me:secret")).status, 200);
    EXPECT_TRUE(support::eventually([&] {
        return counted({"vemo_engine_retired_total 1", "vemo_engine_restarts_total 0"});
    })) << s.get("/metrics").body;

    // An idle engine ends at SIGTERM (and is replaced).
    ASSERT_TRUE(support::eventually([&] { return s.get("/health").body.find("\"engines\":1") != std::string::npos; }));
    const auto workers = support::processesOf("vemo-shot", s.tag());
    pid_t worker = 0;
    for (pid_t p : workers)
        if (p != s.pid()) worker = p;
    ASSERT_NE(worker, 0);
    ::kill(worker, SIGTERM);
    EXPECT_TRUE(support::eventually([&] { return ::kill(worker, 0) != 0; }));
    EXPECT_TRUE(support::eventually([&] { return s.get(support::shotOf(pages.url("/green"))).status == 200; }));
    EXPECT_TRUE(counted({"vemo_engine_restarts_total 1", "vemo_engine_retired_total 1",
                         "vemo_engine_stopped_client_left_total 1"})) << s.get("/metrics").body;

    // A web process killed as its engine starts it, before it has said who it is, is that
    // page's failure, not the service's (its engine, which cannot go on, is replaced).
    std::atomic<bool> killing{true};
    std::thread killer([&] {
        while (killing)
            for (pid_t pid : support::processesOf("WebKitWebProces", s.tag())) ::kill(pid, SIGKILL);
    });
    const auto lost = s.get(support::shotOf(pages.url("/green")), 60000);
    killing = false;
    killer.join();
    EXPECT_EQ(lost.status, 422) << lost.body;
    EXPECT_NE(lost.body.find("ended unexpectedly"), std::string::npos) << lost.body;
    EXPECT_TRUE(support::eventually([&] { return s.get(support::shotOf(pages.url("/green"))).status == 200; }));
}

// A picture an engine was writing for a client that left goes from the service's
// temporary folder at once, with whatever its writing left on the way.
TEST(ServiceLimits, APictureWrittenForAClientThatLeftIsRemovedAtOnce) {
    support::HttpServer pages;
    pages.serve("/tall", "<!doctype html><body style='margin:0;background:#0f0'><div style='height:30000px'></div>");
    support::ServiceProcess s({"--jobs=1", "--allow-private"});
    namespace fs = std::filesystem;
    auto files = [&] {
        std::vector<std::string> found;
        std::error_code e;
        for (fs::recursive_directory_iterator it(s.dir.path("tmp"), e), end; !e && it != end; it.increment(e))
            if (it->is_regular_file(e)) found.push_back(it->path().filename().string());
        return found;
    };
    // A bitmap of 110 MB: the client leaves while it is being written.
    const int fd = support::connectLoopback(s.port());
    send(fd, "GET " + support::shotOf(pages.url("/tall"), "&format=bmp") + " HTTP/1.1\r\nHost: x\r\n\r\n");
    ASSERT_TRUE(support::eventually([&] { return !files().empty(); }, std::chrono::seconds(90)));
    ::close(fd);
    EXPECT_TRUE(support::eventually([&] { return files().empty(); }, std::chrono::seconds(20)))
        << "left behind: " << (files().empty() ? "" : files().front());
    EXPECT_TRUE(support::eventually([&] {
        return s.get("/metrics").body.find("vemo_requests_total{status=\"client-left\"} 1") != std::string::npos;
    }));
}

TEST(ServiceLimits, OnTcpPagesReachPublicAddressesOnlyUnlessTheOperatorAllowsWithAWarningBeyondLoopback) {
    support::HttpServer pages;
    pages.serve("/green", solid("#0f0"));
    const std::string page = support::shotOf(pages.url("/green"));
    {
        support::ServiceProcess exposed({"--jobs=1"}, "0.0.0.0");
        const auto r = exposed.get(page);
        EXPECT_EQ(r.status, 422) << r.body;
        EXPECT_NE(r.body.find("public addresses only"), std::string::npos) << r.body;
        EXPECT_NE(exposed.log().find("public addresses only"), std::string::npos);
    }
    {
        const std::string host = "127.0.0.1:" + std::to_string(pages.port());
        support::ServiceProcess allowed({"--jobs=1", "--allow-host=" + host}, "0.0.0.0");
        EXPECT_EQ(allowed.get(page).status, 200);
        EXPECT_NE(allowed.log().find("pages may reach " + host), std::string::npos) << allowed.log();
        EXPECT_NE(allowed.log().find("warning: the service listens beyond loopback with --allow-host"), std::string::npos)
            << allowed.log();
    }
    {
        // The operator's choice is said; on loopback without a warning.
        support::ServiceProcess own({"--jobs=1", "--allow-private"});
        EXPECT_EQ(own.get(page).status, 200);
        EXPECT_NE(own.log().find("--allow-private"), std::string::npos) << own.log();
        EXPECT_EQ(own.log().find("warning"), std::string::npos) << own.log();
    }
    support::ServiceProcess open({"--jobs=1", "--allow-private"}, "0.0.0.0");
    EXPECT_EQ(open.get(page).status, 200);
    EXPECT_NE(open.log().find("warning: the service listens beyond loopback with --allow-private"), std::string::npos)
        << open.log();
    // On loopback, a caller may not turn the rules off for itself.
    EXPECT_EQ(open.get(page + "&allow-host=x").status, 400);
}

}  // namespace
