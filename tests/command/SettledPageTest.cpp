// The capture command photographs the page that was asked for, where it lands and once
// it has settled: pages served over loopback, colours read back from the files.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <thread>

#include <signal.h>

#include "tests/command/PageShots.h"
#include "tests/support/Command.h"
#include "tests/support/GuiHarness.h"
#include "tests/support/HttpServer.h"

using support::Picture;
using support::Shot;
using support::TempDir;

namespace {

constexpr std::uint32_t kRed = 0xff0000, kGreen = 0x00ff00, kBlue = 0x0000ff, kYellow = 0xffff00, kCyan = 0x00ffff,
                        kWhite = 0xffffff;

std::string solid(const char* colour, int height = 2000, const std::string& extra = {}) {
    return std::string("<!doctype html><html><head>") + extra + "</head><body style='margin:0;background:" + colour +
           "'><div style='height:" + std::to_string(height) + "px'></div></body></html>";
}

// Blocks of 1000 px; those listed hold a green block that renders only when seen.
std::string hiddenSections(int height, std::vector<int> hidden) {
    std::string html = "<!doctype html><body style='margin:0;background:#ddd'>";
    for (int i = 0; i * 1000 < height; ++i) {
        if (std::find(hidden.begin(), hidden.end(), i) != hidden.end())
            html += "<div style='content-visibility:auto;contain-intrinsic-size:auto 1000px'>"
                    "<div style='height:1000px;background:#0f0'></div></div>";
        else
            html += "<div style='height:1000px'></div>";
    }
    return html;
}

// A fixed bar at the bottom and two transformed fixed boxes, under a positioned body.
std::string fixedUnderPositionedBody(int height) {
    return "<!doctype html><body style='margin:0;position:relative'><div style='height:" + std::to_string(height) +
           "px'></div>"
           "<div style='position:fixed;bottom:0;left:0;width:100%;height:50px;background:#f00'></div>"
           "<div style='position:fixed;top:100px;left:100px;width:200px;height:200px;background:#00f;transform:scale(0.5)'></div>"
           "<div style='position:fixed;top:400px;left:0;width:100px;height:100px;background:#0f0;transform:translateX(200px)'></div>";
}

class SettledPage : public support::PageShots {
protected:
    // Runs of one colour along row y (or column x, when `down`): their lengths and starts.
    static std::vector<std::pair<int, int>> runsOf(const Picture& p, std::uint32_t colour, int at, bool down) {
        std::vector<std::pair<int, int>> runs;
        const int n = down ? p.height : p.width;
        for (int i = 0; i < n; ++i) {
            if ((down ? p.at(at, i) : p.at(i, at)) != colour) continue;
            if (!runs.empty() && runs.back().first + runs.back().second == i) ++runs.back().second;
            else runs.push_back({i, 1});
        }
        return runs;
    }
};

TEST_F(SettledPage, ThePageAskedForWhereItLandsAndAtRest) {
    server.serve("/red", solid("#f00"));
    server.serve("/yellow", solid("#ff0"));
    server.serve("/cyan", solid("#0ff"));
    server.serve("/script", solid("#00f", 2000, "<script>onload = () => setTimeout(() => { location.href = '/yellow'; }, 0);</script>"));
    server.serve("/refresh", solid("#00f", 2000, "<meta http-equiv='refresh' content='0; url=/cyan'>"));
    server.serve("/replace", solid("#00f", 2000, "<script>history.replaceState(null, '', '/x'); location.replace('/red');</script>"));
    server.serve("/late-canvas", "<!doctype html><body style='margin:0'><canvas id=c width=300 height=300></canvas><script>"
                                 "onload = () => setTimeout(() => { const x = c.getContext('2d'); x.fillStyle = '#0f0';"
                                 "x.fillRect(0, 0, 300, 300); }, 300);</script>");
    server.serve("/fade", "<!doctype html><style>@keyframes in { from { opacity: 0 } to { opacity: 1 } }"
                          "@keyframes flip { from { background: #f00 } to { background: #00f } }</style>"
                          "<body style='margin:0'><div style='height:200px;background:#0f0;animation:in 1s'></div>"
                          "<div style='height:200px;animation:flip 0.4s steps(2, jump-none) infinite'></div>");
    // The font comes a second late, and only for text the page adds once loaded: the
    // fallback's wide letters would reach past x = 200.
    std::ifstream font("/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf", std::ios::binary);
    server.serve("/late.ttf", {std::istreambuf_iterator<char>(font), {}});
    server.late("/late.ttf", 1000);
    server.serve("/font", "<!doctype html><style>@font-face { font-family: Late; src: url(/late.ttf) }</style>"
                          "<body style='margin:0'><script>onload = () => document.body.insertAdjacentHTML('beforeend',"
                          "\"<span style='font:100px Late, monospace;background:#f00;display:inline-block'>iiii</span>\");"
                          "</script>");
    // A page that records any scrolling, without asking to be told of it.
    server.serve("/still", solid("#0f0", 5000, "<script>(function look() { if (scrollY) document.documentElement."
                                               "style.background = document.body.style.background = '#f00';"
                                               " requestAnimationFrame(look); })();</script>"));
    std::string lazy = "<!doctype html><body style='margin:0'>";
    for (int i = 0; i < 8; ++i)
        lazy += "<div style='height:1500px'><img class=l width=100 height=100 data-src='/dot.svg'></div>";
    lazy += "<script>const o = new IntersectionObserver(es => es.forEach(e => { if (e.isIntersecting) {"
            " e.target.src = e.target.dataset.src; o.unobserve(e.target); } }));"
            "document.querySelectorAll('.l').forEach(i => o.observe(i));</script>";
    server.serve("/lazy", lazy);
    server.serve("/dot.svg", "<svg xmlns='http://www.w3.org/2000/svg' width='100' height='100'><rect width='100' "
                             "height='100' fill='#0f0'/></svg>");

    struct Point {
        int x, y;
        std::vector<std::uint32_t> colours;  // any of them
    };
    struct Case {
        std::string path;
        std::vector<Point> points;
    };
    std::vector<Case> cases = {
        {"/script", {{10, 10, {kYellow}}}},
        {"/refresh", {{10, 10, {kCyan}}}},
        {"/replace", {{10, 10, {kRed}}}},
        {"/late-canvas", {{150, 150, {kGreen}}}},
        {"/fade", {{50, 100, {kGreen}}, {50, 300, {kRed, kBlue}}}},
        {"/font", {{50, 50, {kRed}}, {200, 50, {kWhite}}}},
        {"/still", {{10, 10, {kGreen}}, {10, 4000, {kGreen}}}},
    };
    Case lazyCase{"/lazy", {}};
    for (int i = 0; i < 8; ++i) lazyCase.points.push_back({50, i * 1500 + 50, {kGreen}});
    cases.push_back(lazyCase);
    for (const auto& c : cases) {
        const auto s = shot(server.url(c.path));
        ASSERT_EQ(s.run.status, 0) << c.path << ": " << s.run.err;
        ASSERT_TRUE(s.picture) << c.path;
        for (const auto& p : c.points)
            EXPECT_NE(std::find(p.colours.begin(), p.colours.end(), s.picture->at(p.x, p.y)), p.colours.end())
                << c.path << " at " << p.x << "," << p.y << ": " << std::hex << s.picture->at(p.x, p.y);
    }
}

TEST_F(SettledPage, InABatchEachFileHoldsItsOwnAddressesPage) {
    server.serve("/blue", solid("#00f"));
    server.serve("/green", solid("#0f0"));
    server.serve("/yellow", solid("#ff0"));
    server.serve("/cyan", solid("#0ff"));
    server.serve("/script", solid("#f00", 2000, "<script>onload = () => setTimeout(() => { location.href = '/yellow'; }, 0);</script>"));
    server.serve("/refresh", solid("#f00", 2000, "<meta http-equiv='refresh' content='0; url=/cyan'>"));
    const std::vector<std::pair<std::string, std::uint32_t>> pages = {
        {"/blue", kBlue}, {"/script", kYellow}, {"/green", kGreen}, {"/refresh", kCyan}, {"/blue", kBlue}};
    std::string list;
    for (const auto& p : pages) list += server.url(p.first) + "\n";
    std::ofstream(out.path("list.txt")) << list;
    std::filesystem::create_directory(out.path("shots"));
    for (const std::string warm : {"--warm-up", "--no-warm-up"}) {
        const auto r = support::runCommand({VEMO_SHOT, warm, "--list", out.path("list.txt"), "--out-dir", out.path("shots")});
        ASSERT_EQ(r.status, 0) << r.err;
        const std::string prefix = out.path("shots") + "/127.0.0.1_" + std::to_string(server.port()) + "_";
        const char* names[] = {"blue.png", "script.png", "green.png", "refresh.png", "blue-2.png"};
        for (std::size_t i = 0; i < pages.size(); ++i) {
            const auto p = support::readPicture(prefix + names[i]);
            ASSERT_TRUE(p) << names[i];
            EXPECT_EQ(p->at(10, 10), pages[i].second) << warm << " " << names[i];
        }
    }
}

TEST_F(SettledPage, AddressesThatCannotBePhotographedAreSaidWithoutAFile) {
    server.serve("/a", "<!doctype html><script>location.replace('/b')</script>");
    server.serve("/b", "<!doctype html><script>onload = () => setTimeout(() => { location.href = '/a'; }, 0)</script>");
    struct Case {
        std::string url;
        int status;
        std::string says;
    };
    const Case cases[] = {
        {"http://127.0.0.1:25/", 3, "does not connect to port 25"},
        {"http://127.0.0.1:6667/x", 3, "does not connect to port 6667"},
        {server.url("/a"), 3, "kept moving on to other addresses by itself"},
    };
    for (const auto& c : cases) {
        const auto s = shot(c.url);
        EXPECT_EQ(s.run.status, c.status) << c.url << ": " << s.run.err;
        EXPECT_NE(s.run.err.find(c.says), std::string::npos) << s.run.err;
        EXPECT_FALSE(s.picture) << c.url;
    }
}

TEST_F(SettledPage, PagesThatNeverFinishAreTakenAsTheyStandAndSaidSo) {
    // One image never comes: the page is written at its limit, with its own status.
    server.stall("/never.png");
    server.serve("/stalled", solid("#0f0", 2000, "<img src='/never.png'>"));
    auto s = shot(server.url("/stalled"), {"--timeout=3", "--report", out.path("r.jsonl")});
    EXPECT_EQ(s.run.status, 7) << s.run.err;
    ASSERT_TRUE(s.picture);
    EXPECT_EQ(s.picture->at(10, 1000), kGreen);
    EXPECT_NE(s.run.err.find("1 image was still loading (" + server.url("/never.png") + ")"), std::string::npos)
        << s.run.err;
    std::ifstream report(out.path("r.jsonl"));
    std::string line;
    std::getline(report, line);
    EXPECT_NE(line.find("\"status\":\"incomplete\""), std::string::npos) << line;

}

TEST_F(SettledPage, OnePaintAndStripsShowHiddenSectionsAndFixedElementsAlike) {
    for (const int height : {5000, 50000}) {
        server.serve("/cv" + std::to_string(height), hiddenSections(height, {3, height / 1000 - 2}));
        const auto s = shot(server.url("/cv" + std::to_string(height)), {"--no-warm-up"});
        ASSERT_EQ(s.run.status, 0) << s.run.err;
        EXPECT_EQ(s.picture->at(10, 3500), kGreen) << height;
        EXPECT_EQ(s.picture->at(10, height - 1500), kGreen) << height;
        EXPECT_NE(s.picture->at(10, 2500), kGreen) << height;
    }
    for (const int height : {5000, 40000}) {
        server.serve("/fixed" + std::to_string(height), fixedUnderPositionedBody(height));
        const auto s = shot(server.url("/fixed" + std::to_string(height)), {"--no-warm-up"});
        ASSERT_EQ(s.run.status, 0) << s.run.err;
        const auto& p = *s.picture;
        // The bar is drawn once, where a whole-document paint has it: at the page's end.
        const auto bar = runsOf(p, kRed, 640, true);
        ASSERT_EQ(bar.size(), 1u) << height;
        EXPECT_EQ(bar[0], std::make_pair(height - 50, 50)) << height;
        // Transformed once: half of 200 px about its centre, and 200 px to the right.
        const auto scaled = runsOf(p, kBlue, 200, false);
        ASSERT_EQ(scaled.size(), 1u) << height;
        EXPECT_EQ(scaled[0], std::make_pair(150, 100)) << height;
        const auto moved = runsOf(p, kGreen, 450, false);
        ASSERT_EQ(moved.size(), 1u) << height;
        EXPECT_EQ(moved[0], std::make_pair(200, 100)) << height;
    }
}

}  // namespace
