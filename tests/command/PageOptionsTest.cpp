// What users of capture tools reach for, on the real engine: parts of a page, changes
// before the photo, who is asking, how it looks, WebP. Pages served over loopback; pixels read back from the files.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>

#include "tests/support/Command.h"
#include "tests/support/GuiHarness.h"
#include "tests/support/HttpServer.h"

using support::Picture;

namespace {

constexpr std::uint32_t kRed = 0xff0000, kGreen = 0x00ff00, kBlue = 0x0000ff, kYellow = 0xffff00, kWhite = 0xffffff,
                        kMagenta = 0xff00ff, kCyan = 0x00ffff;

// A box at (100, 300), 250 x 120, then blocks of 100, 50 and 100 px: blue, red (.banner), yellow.
const char* const kBlocks =
    "<!doctype html><body style='margin:0'><div style='height:300px'></div>"
    "<div id=box style='margin-left:100px;width:250px;height:120px;background:#0f0'></div>"
    "<div id=next style='height:100px;background:#00f'></div><div class=banner style='height:50px;background:#f00'></div>"
    "<div style='height:100px;background:#ff0'></div><div style='height:3000px'></div>"
    "<script>setTimeout(() => document.body.insertAdjacentHTML('beforeend', \"<p id=late>late</p>\"), 2500);</script>";

// Bands of 1000 px, twenty unless said.
std::string bands(int count = 20) {
    std::string html;
    const char* colours[] = {"#f00", "#0f0", "#00f", "#ff0"};
    for (int i = 0; i < count; ++i) html += std::string("<div style='height:1000px;background:") + colours[i % 4] + "'></div>";
    return html;
}

struct Shot {
    support::Outcome run;
    std::optional<Picture> picture;
};

class PageOptions : public ::testing::Test {
protected:
    Shot shot(std::vector<std::string> args, const std::string& name = "p.png", const std::vector<std::string>& env = {}) {
        args.insert(args.begin(), VEMO_SHOT);
        args.push_back(out.path(name));
        std::filesystem::remove(out.path(name));
        Shot s{support::runCommand(args, env), std::nullopt};
        if (std::filesystem::exists(out.path(name))) s.picture = support::readPicture(out.path(name));
        return s;
    }
    support::HttpServer server;
    support::TempDir out;
};

TEST_F(PageOptions, PartsAndChangesBeforeThePhoto) {
    server.serve("/blocks", kBlocks);
    const std::string page = server.url("/blocks");
    struct Point {
        int x, y;
        std::uint32_t colour;
    };
    struct Case {
        std::vector<std::string> args;
        int width, height;
        std::vector<Point> points;
    };
    const Case cases[] = {
        {{"--selector=#box"}, 250, 120, {{0, 0, kGreen}, {249, 119, kGreen}}},
        {{"--clip=100,300,50,60"}, 50, 60, {{0, 0, kGreen}, {49, 59, kGreen}}},
        {{"--viewport"}, 1280, 1024, {{5, 310, kWhite}, {105, 310, kGreen}}},
        // Hidden keeps its place; removed gives it up to the block after it.
        {{"--hide=.banner", "--hide=#nothing"}, 1280, 3670, {{5, 545, kWhite}, {5, 600, kYellow}}},
        {{"--remove=.banner"}, 1280, 3620, {{5, 545, kYellow}, {5, 600, kYellow}}},
        {{"--style=#next { background: #f0f !important }"}, 1280, 3670, {{5, 470, kMagenta}}},
        {{"--script=new Promise(r => setTimeout(() => { document.body.style.background = '#0ff'; r(); }, 300))"},
         1280, 3670, {{5, 5, kCyan}}},
        {{"--script=await new Promise(r => setTimeout(r, 100)); document.body.style.background = '#f0f';"},
         1280, 3670, {{5, 5, kMagenta}}},
        {{"--wait-for=#late"}, 1280, 3670, {{5, 5, kWhite}}},
    };
    for (const auto& c : cases) {
        auto args = c.args;
        args.push_back(page);
        const auto s = shot(args);
        ASSERT_EQ(s.run.status, 0) << c.args[0] << ": " << s.run.err;
        EXPECT_EQ(s.picture->width, c.width) << c.args[0];
        EXPECT_GE(s.picture->height, c.height) << c.args[0];
        for (const auto& p : c.points) EXPECT_EQ(s.picture->at(p.x, p.y), p.colour) << c.args[0] << " at " << p.x << "," << p.y;
    }
    struct Refused {
        std::vector<std::string> args;
        int status;
        std::string says;
    };
    const Refused refused[] = {
        {{"--script=throw new Error('boom')"}, 9, "the script failed: Error: boom"},
        {{"--selector=#nothing"}, 8, "no element matches '#nothing'"},
        {{"--clip=0,0,2000,10"}, 8, "not wholly on the page"},
        {{"--selector=[["}, 2, "not a valid CSS selector"},
        {{"--wait-for=#never", "--timeout=4"}, 4, "no visible element matched '#never'"},
    };
    for (const auto& r : refused) {
        auto args = r.args;
        args.push_back(page);
        const auto s = shot(args);
        EXPECT_EQ(s.run.status, r.status) << r.args[0] << ": " << s.run.err;
        EXPECT_NE(s.run.err.find(r.says), std::string::npos) << s.run.err;
        EXPECT_FALSE(s.picture) << r.args[0];
    }
}

TEST_F(PageOptions, WhoIsAskingReachesThePageAndItsOwnOriginOnly) {
    support::HttpServer other;
    std::atomic<bool> leaked{false}, askedOther{false};
    other.respond("/other.js", [&](const std::string& head) {
        askedOther = true;
        if (head.find("X-Token") != std::string::npos) leaked = true;
        return std::string("200 OK\r\nContent-Type: text/javascript\r\nContent-Length: 0\r\n\r\n");
    });
    // Each thing the page was sent, as a green or red block.
    auto page = [&](const std::string& head) {
        auto has = [&](const char* s) { return head.find(s) != std::string::npos ? "#0f0" : "#f00"; };
        const std::string body = std::string("<!doctype html><body style='margin:0'>") +
                                 "<div style='height:100px;background:" + has("User-Agent: TestAgent/1") + "'></div>" +
                                 "<div style='height:100px;background:" + has("X-Token: t1") + "'></div>" +
                                 "<div style='height:100px;background:" + has("a=1") + "'></div>" +
                                 "<div style='height:100px;background:" + has("b=2") + "'></div>" +
                                 "<div id=sub style='height:100px;background:#f00'></div>" +
                                 "<script src='/sub.js'></script><script src='" + other.url("/other.js") + "'></script>";
        return "200 OK\r\nContent-Type: text/html\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
    };
    server.respond("/who", page);
    server.respond("/sub.js", [](const std::string& head) {
        const std::string js = head.find("X-Token: t1") != std::string::npos ? "sub.style.background = '#0f0';" : "";
        return "200 OK\r\nContent-Type: text/javascript\r\nContent-Length: " + std::to_string(js.size()) + "\r\n\r\n" + js;
    });
    server.respond("/login", [](const std::string& head) {
        if (head.find("Authorization: Basic YW5uOnB3") == std::string::npos)  // ann:pw
            return std::string("401 Unauthorized\r\nWWW-Authenticate: Basic realm=\"x\"\r\nContent-Length: 0\r\n\r\n");
        const std::string body = "<!doctype html><body style='margin:0;background:#0f0'>";
        return "200 OK\r\nContent-Type: text/html\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
    });
    std::ofstream(out.path("cookies.txt")) << "# Netscape HTTP Cookie File\n127.0.0.1\tFALSE\t/\tFALSE\t0\tb\t2\n";
    auto s = shot({"--user-agent=TestAgent/1", "--header=X-Token: t1", "--cookie=a=1", "--cookies=" + out.path("cookies.txt"),
                   server.url("/who")});
    ASSERT_EQ(s.run.status, 0) << s.run.err;
    for (int block = 0; block < 5; ++block) EXPECT_EQ(s.picture->at(10, block * 100 + 50), kGreen) << block;
    EXPECT_TRUE(askedOther);
    EXPECT_FALSE(leaked) << "a header went to another origin";
    // The next capture asks as itself again: nothing carried over.
    s = shot({server.url("/who")});
    for (int block = 0; block < 5; ++block) EXPECT_EQ(s.picture->at(10, block * 100 + 50), kRed) << block;

    EXPECT_EQ(shot({"--user=ann:pw", server.url("/login")}).picture->at(5, 5), kGreen);
    s = shot({"--user=ann:nope", server.url("/login")});
    EXPECT_EQ(s.run.status, 3);
    EXPECT_NE(s.run.err.find("refused the user name and password"), std::string::npos) << s.run.err;
    s = shot({server.url("/login")});
    EXPECT_EQ(s.run.status, 3);
    EXPECT_NE(s.run.err.find("asks for a user name and password"), std::string::npos) << s.run.err;
}

TEST_F(PageOptions, ColourSchemeTransparencyAndWebp) {
    server.serve("/scheme", "<!doctype html><style>body { margin: 0; background: #0f0 } @media (prefers-color-scheme: dark)"
                            " { body { background: #f00 } }</style><div style='height:200px'></div>");
    for (const auto& [args, colour] : std::vector<std::pair<std::vector<std::string>, std::uint32_t>>{
             {{}, kGreen}, {{"--color-scheme=light"}, kGreen}, {{"--color-scheme=dark"}, kRed}}) {
        auto a = args;
        a.push_back(server.url("/scheme"));
        const auto s = shot(a, "s.png", {"GTK_THEME=Adwaita:dark"});
        ASSERT_EQ(s.run.status, 0) << s.run.err;
        EXPECT_EQ(s.picture->at(5, 5), colour) << (args.empty() ? "default" : args[0]);
    }

    server.serve("/clear", "<!doctype html><body style='margin:0'><div style='width:100px;height:100px;"
                           "background:rgba(255,0,0,0.5)'></div><div style='height:300px'></div>");
    for (const std::string name : {"t.png", "t.webp"}) {
        const auto s = shot({"--transparent", server.url("/clear")}, name);
        ASSERT_EQ(s.run.status, 0) << name << ": " << s.run.err;
        EXPECT_EQ(s.picture->alpha(500, 50), 0) << name;
        EXPECT_NEAR(s.picture->alpha(50, 50), 128, 2) << name;
        EXPECT_NEAR(static_cast<int>(s.picture->at(50, 50) >> 16), 255, 3) << name;
    }
    EXPECT_EQ(shot({"--transparent", server.url("/clear")}, "t.jpg").run.status, 2);

    // Lossless WebP holds exactly the pixels PNG holds; past its limit it is refused.
    server.serve("/bands", "<!doctype html><body style='margin:0'>" + bands(16));
    const auto png = shot({server.url("/bands")}, "b.png");
    const auto webp = shot({server.url("/bands")}, "b.webp");
    ASSERT_TRUE(png.picture && webp.picture) << webp.run.err;
    EXPECT_EQ(webp.picture->alphas.size(), 0u) << "an opaque page has no alpha";
    EXPECT_TRUE(png.picture->pixels == webp.picture->pixels);
    server.serve("/tall", "<!doctype html><body style='margin:0'><div style='height:20000px'></div>");
    const auto tall = shot({server.url("/tall")}, "tall.webp");
    EXPECT_EQ(tall.run.status, 5);
    EXPECT_NE(tall.run.err.find("WebP holds at most 16383 x 16383 px: write it as PNG"), std::string::npos) << tall.run.err;
}

}  // namespace
