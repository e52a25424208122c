// Batches whose engines cannot start, or whose service keeps turning them away: they
// end, each page failed with the reason, and an interruption ends them at once.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <fstream>
#include <vector>

#include "shot/Report.h"
#include "tests/support/Command.h"
#include "tests/support/HttpServer.h"
#include "tests/support/ServiceProcess.h"

namespace {

using namespace std::chrono_literals;

// A display nobody serves: the engines' processes cannot open it, and end.
const std::string kNoDisplay = "DISPLAY=:987";

struct Ended {
    std::optional<int> status;  // empty: still running after the limit (and killed)
    std::vector<shot::PageReport> lines;
    std::string err;
};

Ended runBatch(const support::TempDir& dir, const std::string& name, std::vector<std::string> more,
               const std::vector<std::string>& env, std::chrono::seconds limit,
               const std::function<void(pid_t)>& meanwhile = {}) {
    std::vector<std::string> argv = {VEMO_SHOT, "-q", "--list", dir.path("list"), "--out-dir", dir.path(name),
                                     "--report", dir.path(name + ".jsonl")};
    argv.insert(argv.end(), more.begin(), more.end());
    const pid_t pid = support::startCommand(argv, env, dir.path(name + ".err"));
    if (meanwhile) meanwhile(pid);
    Ended e{support::waitCommand(pid, limit), {}, {}};
    std::ifstream report(dir.path(name + ".jsonl"));
    for (std::string line; std::getline(report, line);)
        if (auto r = shot::parseReport(line)) e.lines.push_back(*r);
    std::ifstream err(dir.path(name + ".err"));
    e.err.assign(std::istreambuf_iterator<char>(err), {});
    return e;
}

TEST(NoEngine, EveryKindOfBatchEndsWithEachPageFailedAndWhy) {
    support::TempDir dir;
    std::ofstream(dir.path("list")) << "http://127.0.0.1:9/a\nhttp://127.0.0.1:9/b\nhttp://127.0.0.1:9/c\n";
    // A service whose engines never start answers 503 with a Retry-After, for ever.
    support::ServiceProcess service({"--jobs=1"}, "127.0.0.1", {kNoDisplay}, false);
    const std::string sent = "--service=http://127.0.0.1:" + std::to_string(service.port());
    struct Case {
        const char* face;
        std::vector<std::string> options, env;
        const char* why;  // what each page's message says
    };
    const std::vector<Case> cases = {
        {"two engines", {"--jobs=2"}, {kNoDisplay}, "its process ended with exit status"},
        {"two engines at scale 2", {"--jobs=2", "--scale=2"}, {kNoDisplay}, "its process ended with exit status"},
        // Each page is asked again for as long as its time limit.
        {"a service", {sent, "--timeout=4"}, {}, "no engine could be started"},
    };
    for (const auto& c : cases) {
        const auto e = runBatch(dir, std::string("out-") + std::to_string(&c - cases.data()), c.options, c.env, 90s);
        ASSERT_TRUE(e.status) << c.face << ": still running\n" << e.err;
        EXPECT_EQ(*e.status, 1) << c.face << "\n" << e.err;
        ASSERT_EQ(e.lines.size(), 3u) << c.face << "\n" << e.err;
        for (const auto& line : e.lines) {
            EXPECT_EQ(line.status, shot::Status::LoadFailed) << c.face;
            EXPECT_NE(line.message.find("no engine could be started"), std::string::npos) << c.face << ": " << line.message;
            EXPECT_NE(line.message.find(c.why), std::string::npos) << c.face << ": " << line.message;
        }
    }
}

// A page waiting to ask a service again after its Retry-After is not waited for when
// the batch is interrupted.
TEST(NoEngine, AnInterruptedServiceBatchDoesNotWaitForARetry) {
    support::TempDir dir;
    support::HttpServer busy;
    busy.respond("/shot", [](const std::string&) {
        const std::string body = "{\"status\":\"busy\",\"message\":\"every engine is busy\"}";
        return "503 Service Unavailable\r\nRetry-After: 100\r\nContent-Type: application/json\r\nContent-Length: " +
               std::to_string(body.size()) + "\r\n\r\n" + body;
    });
    std::ofstream(dir.path("list")) << "http://127.0.0.1:9/a\n";
    for (int sig : {SIGINT, SIGTERM}) {
        const auto asked = busy.requested().size();
        const auto e = runBatch(dir, "held-" + std::to_string(sig), {"--service=" + busy.url(""), "--timeout=300"}, {}, 40s,
                                [&](pid_t pid) {
                                    ASSERT_TRUE(support::eventually([&] { return busy.requested().size() > asked; }));
                                    ::kill(pid, sig);
                                });
        ASSERT_TRUE(e.status) << sig << ": waited for the retry\n" << e.err;
        EXPECT_EQ(*e.status, 130) << e.err;
        ASSERT_EQ(e.lines.size(), 1u) << e.err;
        EXPECT_EQ(e.lines[0].status, shot::Status::Interrupted);
    }
}

}  // namespace
