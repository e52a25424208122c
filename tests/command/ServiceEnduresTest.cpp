// What a service lives through: Ctrl+C at its terminal, and pages that leave hundreds
// of connections open through the engine's own proxy.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <thread>

#include "tests/support/Command.h"
#include "tests/support/HttpServer.h"
#include "tests/support/ServiceProcess.h"
#include "tests/support/Terminal.h"

namespace {

std::string solid(const char* colour) {
    return std::string("<!doctype html><body style='margin:0;background:") + colour + "'><div style='height:600px'></div>";
}

// Ctrl+C at the terminal where the service runs reaches the service alone: it finishes
// the page under way, as it does at SIGTERM, and ends.
TEST(ServiceEndures, CtrlCAtItsTerminalFinishesThePageUnderWay) {
    support::HttpServer pages;
    pages.serve("/slow", solid("#0f0"));
    pages.late("/slow", 4000);
    const int port = support::freePort();
    support::HttpReply answer;
    std::thread client([&] {
        support::eventually([&] { return support::httpRequest(port, "GET", "/health", {}, {}, 2000).status == 200; });
        answer = support::httpRequest(port, "GET", support::shotOf(pages.url("/slow")), {}, {}, 60000);
    });
    const auto served = support::runInTerminal(
        {VEMO_SHOT, "--serve", "--listen=127.0.0.1:" + std::to_string(port), "--jobs=2", "--allow-private"},
        {"VEMO_TEST_TAG=" + support::uniqueTag()}, 80, std::chrono::seconds(120), [&](const std::string&) {
            const auto asked = pages.requested();
            return std::find(asked.begin(), asked.end(), "/slow") != asked.end();
        });
    client.join();
    EXPECT_EQ(served.status, 0) << served.out;
    EXPECT_EQ(answer.status, 200) << answer.body << "\n" << served.out;
    const auto picture = support::answerPicture(answer, "png");
    ASSERT_TRUE(picture);
    EXPECT_EQ(picture->at(5, 5), 0x00ff00u);
}

// The descriptors a process holds.
std::size_t descriptorsOf(pid_t pid) {
    std::error_code ec;
    const std::filesystem::directory_iterator fds("/proc/" + std::to_string(pid) + "/fd", ec);
    return ec ? 0 : static_cast<std::size_t>(std::distance(fds, std::filesystem::directory_iterator()));
}

// Pages whose requests the engine's own proxy passes on (private addresses refused, the
// tests' servers allowed by name) cannot jam it: connections a page left open end when
// the next caller's page begins, and the engine's descriptors return to what they were.
TEST(ServiceEndures, APageThatLeavesHundredsOfSocketsOpenJamsNothing) {
    support::HttpServer pages, silent;
    silent.stall("/ws");  // takes each connection, and never answers on it
    pages.serve("/green", solid("#0f0"));
    pages.serve("/sockets", "<!doctype html><body style='margin:0;background:#00f'><script>"
                            "window.held = [];"
                            "for (let i = 0; i < 300; ++i) held.push(new WebSocket('ws://127.0.0.1:" +
                                std::to_string(silent.port()) + "/ws'));</script>");
    support::ServiceProcess s({"--jobs=1", "--deny-private", "--allow-host=127.0.0.1:" + std::to_string(pages.port()),
                               "--allow-host=127.0.0.1:" + std::to_string(silent.port()), "--max-timeout=60"});
    auto green = [&](const char* when) {
        const auto r = s.get(support::shotOf(pages.url("/green")), 60000);
        ASSERT_EQ(r.status, 200) << when << ": " << r.body;
        const auto p = support::answerPicture(r, "png");
        ASSERT_TRUE(p) << when;
        EXPECT_EQ(p->at(5, 5), 0x00ff00u) << when;
    };
    green("first");
    pid_t worker = 0;
    for (pid_t p : support::processesOf("vemo-shot", s.tag()))
        if (p != s.pid()) worker = p;
    ASSERT_NE(worker, 0);
    const std::size_t before = descriptorsOf(worker);
    // Twice: more connections than the proxy would ever hold at once.
    for (int i = 0; i < 2; ++i) {
        const auto r = s.get(support::shotOf(pages.url("/sockets"), "&wait=3000"), 60000);
        EXPECT_EQ(r.status, 200) << r.body;
    }
    green("after the sockets");
    EXPECT_TRUE(support::eventually([&] { return descriptorsOf(worker) <= before + 8; }, std::chrono::seconds(30)))
        << before << " descriptors before, " << descriptorsOf(worker) << " after";
}

}  // namespace
