// The engine's sandbox in every face: pages run in namespaces of their own, also when the
// programs are handed a session bus; and where the engine would run them without one, the
// programs say so.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>

#include "tests/support/Command.h"
#include "tests/support/HttpServer.h"
#include "tests/support/ServiceProcess.h"

using support::TempDir;

namespace {

const std::string kShot = VEMO_SHOT;
const std::string kFlatpakInfo = "/.flatpak-info";

std::string slurp(const std::string& path) {
    std::ifstream in(path);
    return {std::istreambuf_iterator<char>(in), {}};
}

std::string ns(pid_t pid, const char* kind) {
    std::error_code ec;
    return std::filesystem::read_symlink("/proc/" + std::to_string(pid) + "/ns/" + kind, ec).string();
}

// Whether the web processes the tagged programs started are there, and every one of them
// runs in mount and process namespaces other than this test's.
bool pagesSandboxed(const std::string& tag) {
    const auto web = support::processesOf("WebKitWebProces", tag);
    if (web.empty()) return false;
    for (pid_t pid : web)
        if (ns(pid, "mnt").empty() || ns(pid, "mnt") == ns(::getpid(), "mnt") || ns(pid, "pid") == ns(::getpid(), "pid"))
            return false;
    return true;
}

// A bus address nothing answers at (a session's, gone stale): the engine's bus proxy once
// failed to start and the engine aborted; or, run as root, it left a /.flatpak-info on the
// real root, and every engine after it ran its pages unsandboxed.
const std::string kBus = "DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent/bus";

// Removes a /.flatpak-info the programs left, so that no later test runs unsandboxed.
struct LeftBehind {
    const bool before = std::filesystem::exists(kFlatpakInfo);
    ~LeftBehind() {
        if (!before) std::filesystem::remove(kFlatpakInfo);
    }
};

TEST(Sandbox, EveryFaceRunsItsPagesInNamespacesOfTheirOwnWhenHandedASessionBus) {
    LeftBehind guard;
    if (guard.before) GTEST_SKIP() << kFlatpakInfo << " exists here: the engine leaves its pages to Flatpak";
    TempDir dir;
    const std::string page = support::writePage(dir, "p.html", "<p style='height:3000px'>held</p>");
    std::ofstream(dir.path("list.txt")) << page << "?1\n" << page << "?2\n";
    // Each face twice: the second run starts after whatever the first left behind.
    const std::vector<std::pair<std::string, std::vector<std::string>>> faces = {
        {"command", {kShot, "--wait=60000", "--timeout=90", page, dir.path("p.png")}},
        {"batch of two engines", {kShot, "--wait=60000", "--timeout=90", "--jobs=2", "--list", dir.path("list.txt"),
                                  "--out-dir", dir.path("out")}},
        // The window program's hidden browser loads its notices as it starts.
        {"window program", {VEMO_SNAPSHOT}},
    };
    for (const auto& [face, args] : faces)
        for (int run = 0; run < 2; ++run) {
            const auto tag = support::uniqueTag() + "-" + std::to_string(run);
            const pid_t pid = support::startCommand(args, {kBus, "VEMO_TEST_TAG=" + tag}, dir.path("err.txt"));
            EXPECT_TRUE(support::eventually([&] { return pagesSandboxed(tag); }))
                << face << ", run " << run + 1 << ": " << support::processesOf("WebKitWebProces", tag).size()
                << " web processes\n" << slurp(dir.path("err.txt"));
            ::kill(pid, SIGTERM);
            support::waitCommand(pid);
            EXPECT_FALSE(std::filesystem::exists(kFlatpakInfo)) << face << " left " << kFlatpakInfo;
        }
    // The service: its engines stay warm after an answer, their web processes with them.
    support::HttpServer server;
    server.serve("/p", "<p>served</p>");
    ::setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/bus", 1);
    for (int run = 0; run < 2; ++run) {
        support::ServiceProcess service({"--jobs=1", "--allow-private"});
        const auto reply = service.get(support::shotOf(server.url("/p")));
        ASSERT_EQ(reply.status, 200) << service.log();
        EXPECT_TRUE(pagesSandboxed(service.tag())) << "service, run " << run + 1 << "\n" << service.log();
        EXPECT_EQ(service.stop(), 0);
        EXPECT_FALSE(std::filesystem::exists(kFlatpakInfo)) << "the service left " << kFlatpakInfo;
    }
    ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
}

// Run alone (it puts a file at the root, which every engine started meanwhile would see).
TEST(SandboxOff, EveryProgramSaysSoWhenAFlatpakInfoWouldTurnItOff) {
    if (std::filesystem::exists(kFlatpakInfo)) GTEST_SKIP() << kFlatpakInfo << " exists here already";
    if (::geteuid() != 0) GTEST_SKIP() << "only root can put " << kFlatpakInfo << " at the root";
    LeftBehind guard;
    std::ofstream(kFlatpakInfo).flush();
    TempDir dir;
    const std::string page = support::writePage(dir, "p.html", "<p>page</p>");
    const std::string said = "sandbox is off: /.flatpak-info exists outside Flatpak";
    const auto r = support::runCommand({kShot, "--no-warm-up", page, dir.path("p.png")});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find(said), std::string::npos) << r.err;
    // The window program says it as it starts its engine.
    const pid_t window = support::startCommand({VEMO_SNAPSHOT}, {}, dir.path("window.txt"));
    EXPECT_TRUE(support::eventually([&] { return slurp(dir.path("window.txt")).find(said) != std::string::npos; }))
        << slurp(dir.path("window.txt"));
    ::kill(window, SIGTERM);
    support::waitCommand(window);
}

}  // namespace
