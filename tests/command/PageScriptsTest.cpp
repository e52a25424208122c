// The engine's scripts against the page they run in, on the real engine: a page that
// breaks what scripts use neither sees nor breaks the engine's; a caller's script runs
// once; numbers pass between the program and the page whatever the locale. Pages
// served over loopback; pixels read back from the files.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>

#include "tests/support/Command.h"
#include "tests/support/GuiHarness.h"
#include "tests/support/HttpServer.h"

using support::Picture;

namespace {

constexpr std::uint32_t kGreen = 0x00ff00, kBlue = 0x0000ff, kYellow = 0xffff00, kCyan = 0x00ffff;

struct Shot {
    support::Outcome run;
    std::optional<Picture> picture;
};

class PageScripts : public ::testing::Test {
protected:
    Shot shot(std::vector<std::string> args, const std::vector<std::string>& env = {}) {
        args.insert(args.begin(), VEMO_SHOT);
        args.push_back(out.path("p.png"));
        std::filesystem::remove(out.path("p.png"));
        Shot s{support::runCommand(args, env), std::nullopt};
        if (std::filesystem::exists(out.path("p.png"))) s.picture = support::readPicture(out.path("p.png"));
        return s;
    }
    support::HttpServer server;
    support::TempDir out;
};

// A box at (100, 300), 250 x 120, a page taller than one engine picture, a block its
// observer turns yellow when seen far below, and a strip at the top that turns red if
// the page finds any global of the engine's. Then the page breaks what scripts use.
const char* const kHostile =
    "<!doctype html><body style='margin:0'><div id=spy style='height:50px;background:#0ff'></div>"
    "<div style='height:250px'></div>"
    "<div id=box style='margin-left:100px;width:250px;height:120px;background:#0f0'></div>"
    "<div style='height:40000px;background:#00f'></div><div id=late style='height:300px;background:#f00'></div>"
    "<div style='height:1000px'></div><script>"
    "new IntersectionObserver(es => es.forEach(e => { if (e.isIntersecting) e.target.style.background = '#ff0'; }))"
    ".observe(late);"
    "const names = Object.getOwnPropertyNames, some = Array.prototype.some, raf = requestAnimationFrame;"
    "const own = ['__vemoWatch', '__vemoWarm'], mine = n => /vemo/i.test(n) && own.indexOf(n) < 0;"
    "(function look() { if (some.call(names(window), mine)) spy.style.background = '#f00'; raf(look); })();"
    "JSON.stringify = () => '{}'; JSON.parse = () => ({}); Array.prototype.join = () => ''; Array.from = () => [];"
    "Array.prototype.map = function () { return []; }; Array.prototype.some = () => false;"
    "Element.prototype.getBoundingClientRect = () => ({ left: 0, top: 0, right: 1, bottom: 1, width: 1, height: 1 });"
    "window.getComputedStyle = () => ({}); document.querySelector = () => null;"
    "document.getElementsByTagName = () => []; Promise.race = () => new Promise(() => {});"
    "Object.defineProperty(window, '__vemoWatch', { value: null }); window.__vemoWarm = { stop() {} };"
    "</script>";

TEST_F(PageScripts, APageThatBreaksWhatScriptsUseNeitherSeesNorBreaksTheEngine) {
    server.serve("/hostile", kHostile);
    const int height = 50 + 250 + 120 + 40000 + 300 + 1000;
    auto s = shot({server.url("/hostile")});
    ASSERT_EQ(s.run.status, 0) << s.run.err;
    ASSERT_TRUE(s.picture);
    // Measured and painted in strips, woken where its observer waits.
    EXPECT_EQ(s.picture->width, 1280);
    EXPECT_EQ(s.picture->height, height);
    struct Point {
        int x, y;
        std::uint32_t colour;
    };
    const Point points[] = {{10, 25, kCyan}, {200, 360, kGreen}, {10, 20000, kBlue}, {10, 40570, kYellow}};
    for (const auto& p : points) EXPECT_EQ(s.picture->at(p.x, p.y), p.colour) << p.x << "," << p.y;

    // Its element box, as it is.
    s = shot({"--selector=#box", server.url("/hostile")});
    ASSERT_EQ(s.run.status, 0) << s.run.err;
    EXPECT_EQ(s.picture->width, 250);
    EXPECT_EQ(s.picture->height, 120);
    EXPECT_EQ(s.picture->at(0, 0), kGreen);
    EXPECT_EQ(s.picture->at(249, 119), kGreen);
}

TEST_F(PageScripts, ACallersScriptRunsOnceWhateverItThrows) {
    std::atomic<int> hits{0};
    server.respond("/hit", [&](const std::string&) {
        ++hits;
        return std::string("200 OK\r\nContent-Type: text/plain\r\nContent-Length: 2\r\n\r\nok");
    });
    server.serve("/page", "<!doctype html><body style='margin:0'><div style='height:500px;background:#0f0'></div>");
    const std::string hit = "const x = new XMLHttpRequest(); x.open('GET', '/hit', false); x.send();";
    struct Case {
        std::string script;
        int status;
        std::string says;
        int hits;
    };
    const Case cases[] = {
        // An expression that throws a SyntaxError as it runs, and one whose promise does.
        {"(() => { " + hit + " return JSON.parse('{'); })()", 9, "SyntaxError", 1},
        {"fetch('/hit').then(() => JSON.parse('{'))", 9, "SyntaxError", 1},
        // Statements that do, and statements that await and succeed.
        {hit + " JSON.parse('{');", 9, "SyntaxError", 1},
        {"await fetch('/hit'); document.body.style.background = '#00f';", 0, "", 1},
        // No script at all: nothing runs.
        {"this is not a script", 9, "SyntaxError", 0},
    };
    for (const auto& c : cases) {
        hits = 0;
        const auto s = shot({"--script=" + c.script, server.url("/page")});
        EXPECT_EQ(s.run.status, c.status) << c.script << ": " << s.run.err;
        EXPECT_NE(s.run.err.find(c.says), std::string::npos) << c.script << ": " << s.run.err;
        EXPECT_EQ(hits, c.hits) << c.script;
        if (c.status == 0) {
            EXPECT_EQ(s.picture->at(10, 600), kBlue) << c.script;
        }
    }
}

TEST_F(PageScripts, PartsAreCutWhereTheyAreUnderALocaleWithADecimalComma) {
    const std::string locales = out.path("locales");
    std::filesystem::create_directory(locales);
    const auto made = support::runCommand({"/bin/sh", "-c", "exec localedef -i de_DE -f UTF-8 \"$0\"", locales + "/de_DE.UTF-8"});
    if (!std::filesystem::exists(locales + "/de_DE.UTF-8")) GTEST_SKIP() << "no localedef here: " << made.err;
    const std::vector<std::string> german = {"LOCPATH=" + locales, "LC_ALL=de_DE.UTF-8", "LANG=de_DE.UTF-8"};
    // A box on fractions of a pixel: x 100.5 to 351, y 300.25 to 420.75.
    server.serve("/box", "<!doctype html><body style='margin:0'><div style='height:300.25px'></div>"
                         "<div id=box style='margin-left:100.5px;width:250.5px;height:120.5px;background:#0f0'></div>"
                         "<div style='height:2000px'></div>");
    struct Case {
        std::string option;
        int width, height;
    };
    const Case cases[] = {{"--selector=#box", 251, 121}, {"--clip=100.5,300.25,50,60", 51, 61}};
    for (const auto& c : cases) {
        const auto s = shot({c.option, server.url("/box")}, german);
        ASSERT_EQ(s.run.status, 0) << c.option << ": " << s.run.err;
        ASSERT_TRUE(s.picture) << c.option;
        EXPECT_EQ(s.picture->width, c.width) << c.option;
        EXPECT_EQ(s.picture->height, c.height) << c.option;
        EXPECT_EQ(s.picture->at(c.width / 2, c.height / 2), kGreen) << c.option;
    }
}

}  // namespace
