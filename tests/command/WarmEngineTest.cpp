// The engine a one-page command keeps warm for the next: the same result as a command
// that photographs in its own process, one engine for commands started together, none
// shared across builds or environments, and its faults and its end.
#include <gtest/gtest.h>
#include <linux/capability.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>

#include "shot/Report.h"
#include "shot/WarmChannel.h"
#include "shot/Worker.h"
#include "tests/command/PageShots.h"
#include "tests/support/PdfFiles.h"

namespace {

using support::Outcome;
using support::runCommand;
using support::TempDir;
const std::string kShot = VEMO_SHOT;

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// The engine a command said (-v) it sent its page to, and whether it started it.
struct Said {
    int pid = 0;
    std::string socket;
    bool started = false;
};
Said said(const std::string& err) {
    Said s;
    std::smatch m;
    // The last it said: a command whose engine ended under its page goes on to another.
    for (auto at = err.cbegin(); std::regex_search(at, err.cend(), m, std::regex("kept at (\\S+) \\(process (\\d+)\\)"));
         at = m[0].second) {
        s.socket = m[1];
        s.pid = std::stoi(m[2]);
    }
    s.started = err.find("started an engine") != std::string::npos;
    return s;
}

bool alive(int pid) { return pid > 0 && ::kill(pid, 0) == 0; }

// A report's line without the time it took, which is never the same twice, nor the
// folder of its file.
std::string reportWithoutTime(const std::string& path) {
    auto r = shot::parseReport(slurp(path).substr(0, slurp(path).find('\n')));
    if (!r) return "(no report)";
    r->milliseconds = 0;
    r->file = std::filesystem::path(r->file).filename();
    return shot::reportJson(*r);
}

class WarmEngine : public ::testing::Test {
protected:
    // Photographs with a tag of this test's own: its engines are its own.
    Outcome shot(std::vector<std::string> args, std::vector<std::string> env = {}) {
        args.insert(args.begin(), kShot);
        env.push_back("VEMO_TEST_TAG=" + tag);
        return runCommand(args, env);
    }
    std::string tag = support::uniqueTag();
    support::HttpServer server;
    TempDir pages, out;
};

TEST_F(WarmEngine, GivesTheSameFileErrorsStatusAndReportAsAnEngineOfItsOwn) {
    server.serve("/p", "<body style='margin:0'><div id=box style='width:300px;height:200px;background:#1a7'></div>"
                       "<p style='height:1500px;background:linear-gradient(#fff,#048)'>x</p></body>");
    server.stall("/never");
    server.stall("/never.svg");
    server.serve("/img", "<p>pictured</p><img src='/never.svg' width=40 height=40>");
    server.respond("/cookie", [](const std::string& head) {
        const auto at = head.find("Cookie: ");
        const std::string cookie = at == std::string::npos ? "none" : head.substr(at + 8, head.find('\r', at) - at - 8);
        // A cookie of the page's own, which the next page must not be sent.
        return "200 OK\r\nContent-Type: text/html\r\nSet-Cookie: left=behind\r\n\r\n<h1>" + cookie + "</h1>";
    });
    std::ofstream(pages.path("cookies.txt")) << "127.0.0.1\tFALSE\t/\tFALSE\t0\tflavour\tginger\n";
    std::ofstream(pages.path("style.css")) << "body { background: #c30 }";
    const std::string file = support::writePage(pages, "f.html", "<h2 style='color:#30c'>a file of mine</h2>");
    const std::string page = server.url("/p");
    struct Case {
        std::string name, url;
        std::vector<std::string> args;
        std::string out = "p.png";
    };
    // Time limits leave a command that starts its own engine on a busy machine the time
    // to load the page.
    const std::vector<Case> cases = {
        {"selector", page, {"--selector=#box"}},
        {"clip", page, {"--clip=10,10,120,90"}},
        {"script failure", page, {"--script=throw new Error('no such thing')"}},
        {"wait-for never met", page, {"--wait-for=#never", "--timeout=6"}},
        {"refused port", support::unreachableUrl("/"), {}},
        {"page that never answers", server.url("/never"), {"--timeout=6"}},
        {"hanging image", server.url("/img"), {"--timeout=6"}},
        {"WebP", page, {"--quality=70"}, "p.webp"},
        {"scale=2", page, {"--scale=2", "--viewport", "--width=400", "--height=300"}},
        {"cookies from a file", server.url("/cookie"), {"--cookies=" + pages.path("cookies.txt")}},
        {"no cookie of the last page", server.url("/cookie"), {}},
        {"style from a file", file, {"--style=@" + pages.path("style.css")}},
        {"file:// page", file, {"--no-warm-up"}, "f.jpg"},
        {"PDF", page, {"--paper=A5", "--landscape"}, "p.pdf"},
    };
    for (const auto& c : cases) {
        std::map<std::string, Outcome> runs;
        for (const std::string keep : {"0", "30"}) {
            std::vector<std::string> args = c.args;
            std::filesystem::create_directories(out.path(keep));
            args.insert(args.end(), {"--keep-engine=" + keep, "--report=" + out.path(keep + ".jsonl"), c.url,
                                     out.path(keep + "/" + c.out)});
            runs[keep] = shot(args);
        }
        const Outcome &cold = runs["0"], &warm = runs["30"];
        EXPECT_EQ(warm.status, cold.status) << c.name << "\n" << warm.err;
        EXPECT_EQ(warm.err, cold.err) << c.name;
        // A PDF says when it was made.
        auto bytes = [&](const std::string& keep) {
            const auto b = slurp(out.path(keep + "/" + c.out));
            return c.out.ends_with(".pdf") ? support::withoutDates(b) : b;
        };
        EXPECT_EQ(bytes("30"), bytes("0")) << c.name << ": the files differ";
        EXPECT_EQ(reportWithoutTime(out.path("30.jsonl")), reportWithoutTime(out.path("0.jsonl"))) << c.name;
    }
    // Every page was photographed warm, a PDF too: the first of each engine's pages started it.
    for (const auto& [option, file] : {std::pair{"--selector=#box", "v.png"}, {"--paper=A5", "v.pdf"}}) {
        const auto again = shot({"-v", option, page, out.path(file)});
        EXPECT_EQ(again.status, 0) << again.err;
        EXPECT_FALSE(said(again.err).started) << again.err;
        EXPECT_TRUE(alive(said(again.err).pid)) << file << again.err;
    }
    for (const auto& f : std::filesystem::recursive_directory_iterator(out.dir()))
        EXPECT_NE(f.path().filename().string()[0], '.') << "a temporary file was left: " << f.path();
}

TEST_F(WarmEngine, CommandsStartedTogetherStartOneEngineAndOnlyTheirEnvironmentsShareIt) {
    const std::string page = support::writePage(pages, "p.html", "<p>shared</p>");
    std::vector<pid_t> started;
    for (int i = 0; i < 3; ++i)
        started.push_back(support::startCommand({kShot, "-v", page, out.path(std::to_string(i) + ".png")},
                                                {"VEMO_TEST_TAG=" + tag}, out.path(std::to_string(i) + ".txt")));
    std::set<int> engines;
    int starts = 0;
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(support::waitCommand(started[static_cast<std::size_t>(i)], std::chrono::seconds(90)), 0);
        const auto s = said(slurp(out.path(std::to_string(i) + ".txt")));
        engines.insert(s.pid);
        starts += s.started;
    }
    EXPECT_EQ(engines.size(), 1u);
    EXPECT_EQ(starts, 1);
    const int first = *engines.begin();

    // Another time zone, and another build of the program, have engines of their own;
    // the first environment's engine is used again.
    const std::string other = std::filesystem::path(kShot).parent_path() / ("vemo-shot-" + tag);
    std::filesystem::copy_file(kShot, other);
    struct Gone {
        std::string path;
        ~Gone() { std::filesystem::remove(path); }
    } gone{other};
    const auto zone = shot({"-v", page, out.path("z.png")}, {"TZ=Asia/Shanghai"});
    const auto build = runCommand({other, "-v", page, out.path("b.png")}, {"VEMO_TEST_TAG=" + tag});
    const auto same = shot({"-v", page, out.path("s.png")});
    for (const auto* r : {&zone, &build, &same}) EXPECT_EQ(r->status, 0) << r->err;
    EXPECT_TRUE(said(zone.err).started);
    EXPECT_TRUE(said(build.err).started);
    EXPECT_EQ(std::set<int>({first, said(zone.err).pid, said(build.err).pid}).size(), 3u);
    EXPECT_EQ(said(same.err).pid, first);
    EXPECT_FALSE(said(same.err).started);
}

TEST_F(WarmEngine, EndsAfterItsIdleTimeWithEverythingItStarted) {
    const std::string page = support::writePage(pages, "p.html", "<p>brief</p>");
    // No display of the command's: the engine starts one of its own, which goes with it.
    const auto r = shot({"-v", "--keep-engine=2", page, out.path("p.png")}, {"DISPLAY", "WAYLAND_DISPLAY"});
    ASSERT_EQ(r.status, 0) << r.err;
    const auto s = said(r.err);
    ASSERT_TRUE(s.started) << r.err;
    EXPECT_TRUE(support::eventually([&] { return !alive(s.pid); })) << "the engine stays";
    EXPECT_FALSE(std::filesystem::exists(s.socket));
    for (const char* name : {"Xvfb", "WebKitWebProces", "WebKitNetworkPr"})
        EXPECT_TRUE(support::eventually([&] { return support::processCount(name, tag) == 0; })) << name;
}

TEST_F(WarmEngine, AKilledEngineHasItsPageTakenByAFreshOneAndWrittenOnce) {
    server.late("/slow", 2500);
    const pid_t pid = support::startCommand({kShot, "-v", server.url("/slow"), out.path("p.png")},
                                            {"VEMO_TEST_TAG=" + tag}, pages.path("err.txt"));
    int engine = 0;
    ASSERT_TRUE(support::eventually([&] {
        engine = said(slurp(pages.path("err.txt"))).pid;
        const auto asked = server.requested();
        return engine > 0 && std::count(asked.begin(), asked.end(), "/slow") == 1;
    }));
    ::kill(engine, SIGKILL);
    EXPECT_EQ(support::waitCommand(pid, std::chrono::seconds(90)), 0) << slurp(pages.path("err.txt"));
    EXPECT_EQ(out.entries(), std::vector<std::string>{"p.png"});
    EXPECT_TRUE(support::readPicture(out.path("p.png")));
    const auto asked = server.requested();
    EXPECT_EQ(std::count(asked.begin(), asked.end(), "/slow"), 2);
    EXPECT_NE(said(slurp(pages.path("err.txt"))).pid, engine) << "the page went to the killed engine again";
}

TEST_F(WarmEngine, CtrlCEndsTheCommandAndStopsItsPageInTheEngine) {
    server.stall("/never");
    const std::string page = support::writePage(pages, "p.html", "<p>next</p>");
    const pid_t pid = support::startCommand({kShot, "--timeout=300", server.url("/never"), out.path("n.png")},
                                            {"VEMO_TEST_TAG=" + tag}, pages.path("err.txt"));
    ASSERT_TRUE(support::eventually([&] {
        const auto asked = server.requested();
        return std::count(asked.begin(), asked.end(), "/never") > 0;
    }));
    ::kill(pid, SIGINT);
    EXPECT_EQ(support::waitCommand(pid, std::chrono::seconds(30)), 130);
    EXPECT_NE(slurp(pages.path("err.txt")).find("(interrupted)"), std::string::npos) << slurp(pages.path("err.txt"));
    EXPECT_TRUE(out.entries().empty());
    // The engine is free again long before the stopped page's time limit.
    const pid_t next = support::startCommand({kShot, "-v", page, out.path("p.png")}, {"VEMO_TEST_TAG=" + tag},
                                             pages.path("next.txt"));
    EXPECT_EQ(support::waitCommand(next, std::chrono::seconds(60)), 0) << "the engine still held the stopped page";
    EXPECT_FALSE(said(slurp(pages.path("next.txt"))).started);
}

TEST_F(WarmEngine, ACommandWhoseOutputIsReadToItsEndReturnsAtOnce) {
    const std::string page = support::writePage(pages, "p.html", "<p>piped</p>");
    int ends[2];
    ASSERT_EQ(::pipe(ends), 0);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::setenv("VEMO_TEST_TAG", tag.c_str(), 1);
        ::dup2(ends[1], 1);
        ::dup2(ends[1], 2);
        ::dup2(ends[1], 7);  // and one more, as a runner may hand down
        ::close(ends[0]);
        ::execl(kShot.c_str(), kShot.c_str(), "-v", "--keep-engine=600", page.c_str(), out.path("p.png").c_str(), nullptr);
        ::_exit(127);
    }
    ::close(ends[1]);
    // The reader waits for the pipe's end, as a CI runner does: it comes with the command's,
    // long before the engine's.
    std::string heard;
    shot::Fd reading(ends[0]);
    const auto until = shot::WarmClock::now() + std::chrono::seconds(60);
    bool ended = false;
    while (!ended && shot::awaitReadable(reading.get(), until)) {
        char chunk[512];
        const ssize_t n = ::read(reading.get(), chunk, sizeof chunk);
        ended = n <= 0;
        if (n > 0) heard.append(chunk, static_cast<std::size_t>(n));
    }
    EXPECT_TRUE(ended) << "the pipe was held open: " << heard;
    EXPECT_EQ(support::waitCommand(pid, std::chrono::seconds(10)), 0) << heard;
    EXPECT_TRUE(said(heard).started) << heard;
    EXPECT_TRUE(alive(said(heard).pid)) << "the engine that holds nothing of the pipe's should be running";
    ::kill(said(heard).pid, SIGTERM);
}

// Sends a page to the engine at `socket` from a child process of user `uid`, which keeps
// the right to reach any file (so that only the engine's own check may refuse it):
// whether the engine took the page.
bool engineTakesPageOf(uid_t uid, const std::string& socket, const std::string& address, const std::string& file) {
    shot::WorkerTask task;
    task.id = 7;
    task.request.address = address;
    task.path = file;
    const std::string message = "{\"keep\":30,\"file\":0}\n" + shot::taskLine(task);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::prctl(PR_SET_KEEPCAPS, 1);
        if (::setresgid(uid, uid, uid) != 0 || ::setresuid(uid, uid, uid) != 0) ::_exit(3);
        __user_cap_header_struct head{_LINUX_CAPABILITY_VERSION_3, 0};
        __user_cap_data_struct caps[2]{};
        caps[0].effective = caps[0].permitted = 1u << CAP_DAC_OVERRIDE;
        if (::syscall(SYS_capset, &head, caps) != 0) ::_exit(4);
        shot::Fd conn = shot::connectTo(socket);
        if (!conn) ::_exit(5);
        if (!shot::sendAll(conn.get(), message, {2})) ::_exit(1);  // closed on it at once
        // Heard out to the end: a command that leaves has its page stopped.
        char answer[512];
        ssize_t n, all = 0;
        while ((n = ::read(conn.get(), answer, sizeof answer)) > 0) all += n;
        ::_exit(all > 0 ? 0 : 1);
    }
    const auto status = support::waitCommand(pid, std::chrono::seconds(60));
    EXPECT_TRUE(status == 0 || status == 1) << "the client could not ask: " << status.value_or(-1);
    return status == 0;
}

TEST_F(WarmEngine, AnotherUsersProcessIsRefused) {
    const std::string page = support::writePage(pages, "p.html", "<p>mine</p>");
    const auto r = shot({"-v", page, out.path("p.png")});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string socket = said(r.err).socket;
    ASSERT_FALSE(socket.empty()) << r.err;
    EXPECT_FALSE(engineTakesPageOf(65534, socket, page, pages.path("theirs.png")));
    EXPECT_TRUE(engineTakesPageOf(::getuid(), socket, page, pages.path("mine.png")));
    EXPECT_TRUE(support::eventually([&] { return std::filesystem::exists(pages.path("mine.png")); }));
    EXPECT_FALSE(std::filesystem::exists(pages.path("theirs.png")));
}

}  // namespace
