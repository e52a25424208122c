// The capture command run as a user runs it, from the build folder: pictures read
// back from the files it wrote, exit statuses, reports, batches, no display, Ctrl+C.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "tests/support/Command.h"
#include "tests/support/GuiHarness.h"
#include "tests/support/HttpServer.h"

using support::Picture;
using support::runCommand;
using support::TempDir;
using support::writePage;

namespace {

const std::string kShot = VEMO_SHOT;
const std::vector<std::uint32_t> kBands = {0xff0000, 0x00ff00, 0x0000ff, 0xffff00, 0x00ffff, 0xff00ff};

std::string hex(std::uint32_t c) {
    char b[8];
    std::snprintf(b, sizeof b, "#%06x", c);
    return b;
}

// Bands of 1000 px in the colours above; the last row black.
std::string bandPage(int height) {
    std::string html = "<!doctype html><html><body style='margin:0'>";
    for (int top = 0, i = 0; top < height - 1; top += 1000, ++i)
        html += "<div style='height:" + std::to_string(std::min(1000, height - 1 - top)) + "px;background:" +
                hex(kBands[i % kBands.size()]) + "'></div>";
    return html + "<div style='height:1px;background:#000'></div></body></html>";
}

bool near(std::uint32_t a, std::uint32_t b, int tolerance) {
    for (int s : {0, 8, 16})
        if (std::abs(static_cast<int>((a >> s) & 0xFF) - static_cast<int>((b >> s) & 0xFF)) > tolerance) return false;
    return true;
}

void expectBands(const Picture& p, int height, int tolerance) {
    ASSERT_EQ(p.height, height);
    for (int top = 0, i = 0; top < height - 1; top += 1000, ++i)
        for (int x : {0, p.width / 2, p.width - 1})
            ASSERT_TRUE(near(p.at(x, std::min(top + 500, height - 2)), kBands[i % kBands.size()], tolerance))
                << "band " << i << " x " << x;
    if (tolerance == 0) {  // too thin a line for JPEG to keep
        EXPECT_EQ(p.at(5, height - 1), 0u);
    }
}

std::string slurp(const std::string& path) {
    std::ifstream in(path);
    return {std::istreambuf_iterator<char>(in), {}};
}

class ShotCommand : public ::testing::Test {
protected:
    support::Outcome shot(std::vector<std::string> args, const std::vector<std::string>& env = {}) {
        args.insert(args.begin(), kShot);
        return runCommand(args, env);
    }
    TempDir pages, out;
};

TEST_F(ShotCommand, BandsComeOutWholeInEveryFormat) {
    const auto page = writePage(pages, "bands.html", bandPage(12000));
    for (const std::string name : {"a.png", "a.jpg", "a.JPEG", "a.bmp"}) {
        const auto r = shot({"--no-warm-up", page, out.path(name)});
        ASSERT_EQ(r.status, 0) << name << ": " << r.err;
        EXPECT_EQ(r.err, "") << "a page written says nothing";
        const auto p = support::readPicture(out.path(name));
        ASSERT_TRUE(p) << name;
        EXPECT_EQ(p->width, 1280);
        const bool lossy = name == "a.jpg" || name == "a.JPEG";
        expectBands(*p, 12000, lossy ? 12 : 0);
    }
    EXPECT_EQ(out.entries().size(), 4u);  // no temporary file left beside them
}

TEST_F(ShotCommand, PagesBeyondOnePictureAndBeyondJpeg) {
    const auto tall = writePage(pages, "tall.html", bandPage(40000));
    auto r = shot({"--no-warm-up", tall, out.path("tall.png")});
    ASSERT_EQ(r.status, 0) << r.err;
    const auto tallPicture = support::readPicture(out.path("tall.png"));
    ASSERT_TRUE(tallPicture);
    expectBands(*tallPicture, 40000, 0);

    const auto taller = writePage(pages, "taller.html", bandPage(70000));
    r = shot({"--no-warm-up", taller, out.path("taller.jpg")});
    EXPECT_EQ(r.status, 5);
    EXPECT_NE(r.err.find("JPEG holds at most 65535 x 65535 px"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("write it as PNG"), std::string::npos) << r.err;
    EXPECT_FALSE(std::filesystem::exists(out.path("taller.jpg")));
    r = shot({"--no-warm-up", taller, out.path("taller.png")});
    ASSERT_EQ(r.status, 0) << r.err;
    const auto tallerPicture = support::readPicture(out.path("taller.png"));
    ASSERT_TRUE(tallerPicture);
    expectBands(*tallerPicture, 70000, 0);

    // Wider than any engine picture: refused with its width, nothing written.
    const auto wide = writePage(pages, "wide.html",
                                "<!doctype html><body style='margin:0'><div style='width:40000px;height:50px'></div>");
    r = shot({"--no-warm-up", wide, out.path("wide.png")});
    EXPECT_EQ(r.status, 5);
    EXPECT_NE(r.err.find("the page is 40000 px wide, and a picture is at most 32767 px wide"), std::string::npos) << r.err;
    EXPECT_EQ(out.entries().size(), 2u);
}

TEST_F(ShotCommand, ScreenSizeAndScaleShapeThePicture) {
    const auto hero = writePage(pages, "hero.html",
                                "<!doctype html><html><body style='margin:0'><div style='height:100vh;background:#f00'>"
                                "</div><div style='height:500px;background:#00f'></div></body></html>");
    auto r = shot({"--width", "800", "--height=600", hero, out.path("small.png")});
    ASSERT_EQ(r.status, 0) << r.err;
    auto p = support::readPicture(out.path("small.png"));
    EXPECT_EQ(p->width, 800);
    EXPECT_EQ(p->height, 1100);
    EXPECT_EQ(p->at(400, 599), 0xff0000u);
    EXPECT_EQ(p->at(400, 600), 0x0000ffu);

    r = shot({"-w", "800", "-h", "600", "--scale", "2", hero, out.path("sharp.png")});
    ASSERT_EQ(r.status, 0) << r.err;
    p = support::readPicture(out.path("sharp.png"));
    EXPECT_EQ(p->width, 1600);
    EXPECT_EQ(p->height, 2200);
    EXPECT_EQ(p->at(800, 1199), 0xff0000u);
    EXPECT_EQ(p->at(800, 1200), 0x0000ffu);

    // Scripts that run while the page is read already see the screen's size.
    const auto early = writePage(pages, "early.html",
                                 "<!doctype html><html><body style='margin:0'><script>document.write(\"<div style="
                                 "'width:\" + innerWidth + \"px;height:\" + innerHeight + \"px;background:#0f0'>"
                                 "</div>\");</script></body></html>");
    r = shot({"--no-warm-up", "--width=900", "--height=700", early, out.path("early.png")});
    ASSERT_EQ(r.status, 0) << r.err;
    p = support::readPicture(out.path("early.png"));
    EXPECT_EQ(p->height, 700);
    EXPECT_EQ(p->at(899, 699), 0x00ff00u);
}

TEST_F(ShotCommand, WarmUpBringsImagesThatLoadWhenScrolledTo) {
    // The picture is set by the page's own observer, only once its place comes into view.
    const std::string html =
        "<!doctype html><html><body style='margin:0'><div style='height:6000px;background:#fff'></div>"
        "<img id=late width=300 height=300 style='display:block;background:#f00' "
        "data-src=\"data:image/svg+xml,%3Csvg xmlns='http://www.w3.org/2000/svg' width='300' height='300'%3E"
        "%3Crect width='300' height='300' fill='%2300c000'/%3E%3C/svg%3E\">"
        "<div style='height:2000px'></div><script>"
        "new IntersectionObserver(function (es, o) { es.forEach(function (e) {"
        "  if (e.isIntersecting) { e.target.src = e.target.dataset.src; o.unobserve(e.target); } }); })"
        ".observe(document.getElementById('late'));</script></body></html>";
    const auto page = writePage(pages, "late.html", html);
    auto r = shot({page, out.path("warm.png")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(support::readPicture(out.path("warm.png"))->at(150, 6150), 0x00c000u);
    r = shot({"--no-warm-up", page, out.path("cold.png")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(support::readPicture(out.path("cold.png"))->at(150, 6150), 0xff0000u);
}

TEST_F(ShotCommand, BatchGoesOnPastBadPagesAndReportsEach) {
    support::HttpServer server;
    std::string list = "# twenty pages\n\n";
    for (int i = 0; i < 18; ++i) {
        server.serve("/p" + std::to_string(i), "<!doctype html><body style='margin:0;background:" +
                                                   hex(kBands[i % kBands.size()]) + "'><div style='height:1500px'>");
        list += server.url("/p" + std::to_string(i)) + "\n";
    }
    server.serve("/hung", "<!doctype html><body>hung<script>while (true) {}</script>");
    list.insert(list.find('\n', list.find("/p4")) + 1, support::unreachableUrl("/refused") + "\n");
    list.insert(list.find('\n', list.find("/p9")) + 1, "  " + server.url("/hung") + "  \n");
    std::ofstream(pages.path("list.txt")) << list;

    const auto r = shot({"--no-warm-up", "--timeout=4", "--list", pages.path("list.txt"), "--out-dir", out.dir(),
                         "--report", pages.path("report.jsonl")});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find("18 of 20 pages written, 2 failed"), std::string::npos) << r.err;
    const auto report = slurp(pages.path("report.jsonl"));
    EXPECT_EQ(std::count(report.begin(), report.end(), '\n'), 20);
    int ok = 0;
    for (std::size_t at = 0; (at = report.find("\"status\":\"ok\"", at)) != std::string::npos; ++at) ++ok;
    EXPECT_EQ(ok, 18);
    EXPECT_NE(report.find("\"status\":\"load-failed\""), std::string::npos);
    EXPECT_NE(report.find("\"status\":\"timed-out\""), std::string::npos);
    EXPECT_NE(report.find("/refused\",\"file\":\"\",\"width\":0"), std::string::npos) << report;
    ASSERT_EQ(out.entries().size(), 18u);
    // Pages after the hung one were photographed by a fresh web process.
    const std::string name = "127.0.0.1_" + std::to_string(server.port()) + "_p17.png";
    const auto last = support::readPicture(out.path(name));
    ASSERT_TRUE(last) << name;
    EXPECT_EQ(last->at(10, 10), kBands[17 % kBands.size()]);
    EXPECT_NE(report.find("\"width\":1280,\"height\":1500"), std::string::npos);
}

TEST_F(ShotCommand, UsageMistakesAndUnwritablePlacesAreSaidWithTheirOwnStatus) {
    auto r = shot({"http://a.example/"});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("--help"), std::string::npos);
    EXPECT_EQ(shot({"--scale=3", "http://a.example/", out.path("a.png")}).status, 2);
    EXPECT_EQ(shot({"http://a.example/", out.path("a.gif")}).status, 2);
    r = shot({"--version"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.rfind("vemo-shot ", 0), 0u);
    r = shot({"--help"}, {"LANGUAGE=zh_CN", "LC_ALL=C.UTF-8"});
    EXPECT_NE(r.out.find("用法"), std::string::npos);

    std::ofstream(pages.path("list.txt")) << "http://a.example/\n";
    std::ofstream(pages.path("file")) << "x";
    r = shot({"--list", pages.path("list.txt"), "--out-dir", pages.path("file")});
    EXPECT_EQ(r.status, 6);
    EXPECT_NE(r.err.find("cannot write into"), std::string::npos) << r.err;
    r = shot({"--list", pages.path("list.txt"), "--out-dir", "/proc/1"}, {"LANGUAGE=zh_CN", "LC_ALL=C.UTF-8"});
    EXPECT_EQ(r.status, 6);
    EXPECT_NE(r.err.find("无法写入"), std::string::npos) << r.err;
    // A wait as long as the time limit is refused before any page, as the service refuses
    // it: also a batch that a service would photograph.
    r = shot({"--wait=5000", "--timeout=5", "--list", pages.path("list.txt"), "--out-dir", out.path("w"),
              "--service=http://127.0.0.1:9"});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("wait (5000 ms) must be shorter than the time limit (5 s)"), std::string::npos) << r.err;

    const auto page = writePage(pages, "p.html", "<p>hello</p>");
    r = shot({"--no-warm-up", page, "/proc/1/a.png"});
    EXPECT_EQ(r.status, 6) << r.err;
    r = shot({"--no-warm-up", support::unreachableUrl("/x"), out.path("x.png")});
    EXPECT_EQ(r.status, 3) << r.err;
    EXPECT_FALSE(std::filesystem::exists(out.path("x.png")));
}

TEST_F(ShotCommand, WritesNothingButThePictures) {
    TempDir home;
    const auto page = writePage(pages, "store.html",
                                "<!doctype html><body><script>localStorage.x = 1; document.cookie = 'a=b';"
                                "indexedDB.open('db');</script><div style='height:3000px;background:#0a0'></div>");
    const std::string h = home.dir();
    // Without a runtime folder, what would go there goes to the cache folder: in sight.
    // The engine that stays after the page keeps its sandbox's folders until it ends.
    const auto r = shot({"--keep-engine=1", page, out.path("p.png")},
                        {"HOME=" + h, "XDG_CONFIG_HOME=" + h, "XDG_CACHE_HOME=" + h, "XDG_DATA_HOME=" + h,
                         "XDG_STATE_HOME=" + h, "XDG_RUNTIME_DIR"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(support::eventually([&] { return home.entries().empty(); })) << home.entries().size() << " left";
    EXPECT_EQ(out.entries(), std::vector<std::string>{"p.png"});
    // With one, the folders the engine's sandbox kept there while it ran are gone too;
    // the folder of the engines' sockets stays.
    TempDir runtime;
    ASSERT_EQ(shot({"--keep-engine=1", page, out.path("p.png")}, {"XDG_RUNTIME_DIR=" + runtime.dir()}).status, 0);
    EXPECT_TRUE(support::eventually([&] { return runtime.entries() == std::vector<std::string>{"vemo-shot"}; }))
        << runtime.entries().size() << " left";
}

TEST_F(ShotCommand, WithoutTheSandboxItSaysSoAndStillWorks) {
    // No bubblewrap to be found, or one that never answers: the engine runs without its
    // sandbox, and says so.
    std::filesystem::create_directory(pages.path("bin"));
    for (const auto& [name, body] : {std::pair<std::string, std::string>{"bwrap", "#!/bin/sh\nexec sleep 600\n"},
                                     {"xdg-dbus-proxy", "#!/bin/sh\nexit 0\n"}}) {
        std::ofstream(pages.path("bin/" + name)) << body;
        std::filesystem::permissions(pages.path("bin/" + name), std::filesystem::perms::owner_all);
    }
    const auto page = writePage(pages, "b.html", bandPage(2000));
    for (const auto& path : {std::string("/nonexistent"), pages.path("bin") + ":/usr/bin:/bin"}) {
        const auto began = std::chrono::steady_clock::now();
        const auto r = shot({"--no-warm-up", page, out.path("b.png")}, {"PATH=" + path});
        ASSERT_EQ(r.status, 0) << path << ": " << r.err;
        EXPECT_NE(r.err.find("sandbox cannot start"), std::string::npos) << r.err;
        EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::seconds(60)) << path;
        expectBands(*support::readPicture(out.path("b.png")), 2000, 0);
    }
}

// Whether every process of that name the tagged command started has ended, within a
// generous limit.
bool allEnded(const std::string& name, const std::string& tag) {
    return support::eventually([&] { return support::processCount(name, tag) == 0; });
}

// These start displays of their own and count processes: nothing else runs beside them.
TEST(ShotHeadless, StartsAndEndsItsOwnDisplayAndEngineWhereThereIsNoDisplay) {
    TempDir pages, out;
    const std::string tag = support::uniqueTag();
    const auto r = runCommand({kShot, "--keep-engine=0", "--no-warm-up", writePage(pages, "b.html", bandPage(3000)),
                               out.path("b.png")}, {"DISPLAY", "WAYLAND_DISPLAY", "VEMO_TEST_TAG=" + tag});
    ASSERT_EQ(r.status, 0) << r.err;
    expectBands(*support::readPicture(out.path("b.png")), 3000, 0);
    // Names as the system keeps them: 15 characters.
    EXPECT_EQ(support::processCount("Xvfb", tag), 0);
    EXPECT_TRUE(allEnded("WebKitWebProces", tag));
    EXPECT_TRUE(allEnded("WebKitNetworkPr", tag));
}

TEST(ShotHeadless, CtrlCInABatchLeavesNoPartialFileAndNoDisplay) {
    TempDir pages, out;
    std::string list;
    for (int i = 0; i < 40; ++i) list += writePage(pages, "p" + std::to_string(i) + ".html", bandPage(20000)) + "\n";
    std::ofstream(pages.path("list.txt")) << list;
    const std::string tag = support::uniqueTag();
    const pid_t pid = support::startCommand(
        {kShot, "--no-warm-up", "--wait=200", "--format=bmp", "--list", pages.path("list.txt"), "--out-dir", out.dir()},
        {"DISPLAY", "WAYLAND_DISPLAY", "VEMO_TEST_TAG=" + tag}, pages.path("err.txt"));
    EXPECT_TRUE(support::eventually([&] { return out.entries().size() >= 2; }));
    ::kill(pid, SIGINT);
    EXPECT_EQ(support::waitCommand(pid), 130);
    const auto files = out.entries();
    EXPECT_GE(files.size(), 2u);
    EXPECT_LT(files.size(), 40u);
    for (const auto& f : files) {
        EXPECT_NE(f[0], '.') << "a temporary file was left: " << f;
        const auto p = support::readPicture(out.path(f));
        ASSERT_TRUE(p) << f;
        EXPECT_EQ(p->height, 20000) << f;
    }
    EXPECT_NE(slurp(pages.path("err.txt")).find("(interrupted)"), std::string::npos);
    EXPECT_TRUE(allEnded("Xvfb", tag));
}

}  // namespace
