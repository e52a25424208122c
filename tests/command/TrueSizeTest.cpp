// Pages measured and painted at their true size on the real engine: sections that
// render only when seen, in one paint and in strips (served over loopback), and pages
// made as generators of documentation make them (local files). Pixels read back from
// the files.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <vector>

#include "tests/support/Command.h"
#include "tests/support/GuiHarness.h"
#include "tests/support/HttpServer.h"
#include "tests/support/ServiceProcess.h"

namespace {

constexpr int kSection = 300;

// Section i's own colour.
std::uint32_t colourOf(int i) { return static_cast<std::uint32_t>(i) << 16 | static_cast<std::uint32_t>(255 - i) << 8 | 0x40; }

// `count` sections that render only when seen, each said to be 5000 px tall until it
// is, and each 300 px of its own colour when it is.
std::string sections(int count) {
    std::string html = "<!doctype html><body style='margin:0'>";
    for (int i = 0; i < count; ++i) {
        char colour[16];
        std::snprintf(colour, sizeof colour, "#%06x", colourOf(i));
        html += std::string("<section style='content-visibility:auto;contain-intrinsic-size:5000px'>"
                            "<div style='height:") + std::to_string(kSection) + "px;background:" + colour + "'></div></section>";
    }
    return html;
}

TEST(TrueSize, SectionsThatRenderOnlyWhenSeenAreMeasuredAndPaintedAsTheyAre) {
    support::HttpServer server;
    support::TempDir out;
    // One paint, and strips (past 32767 px).
    for (const int count : {30, 150}) {
        const std::string path = "/sections" + std::to_string(count);
        server.serve(path, sections(count));
        const auto run = support::runCommand({VEMO_SHOT, server.url(path), out.path("p.png")});
        ASSERT_EQ(run.status, 0) << count << ": " << run.err;
        const auto picture = support::readPicture(out.path("p.png"));
        ASSERT_TRUE(picture) << count;
        EXPECT_EQ(picture->width, 1280) << count;
        ASSERT_EQ(picture->height, count * kSection) << count;
        for (int i = 0; i < count; ++i) {
            for (const int y : {i * kSection + 1, i * kSection + kSection / 2, (i + 1) * kSection - 2})
                ASSERT_EQ(picture->at(640, y), colourOf(i)) << count << " sections: section " << i << " at " << y;
        }
    }
}

// A page of local files, and what its picture must be: its size, and the colour of
// some of its pixels.
struct Made {
    const char* what;
    std::map<std::string, std::string> files;  // the first one in name order is the page
    int width, height;
    std::vector<std::array<int, 3>> pixels;  // x, y, 0xRRGGBB
};

// `count` bands of 1000 px, band i of colour colourOf(i), as HTML.
std::string bands(int count) {
    std::string html;
    for (int i = 0; i < count; ++i) {
        char colour[16];
        std::snprintf(colour, sizeof colour, "#%06x", colourOf(i));
        html += std::string("<div style='height:1000px;background:") + colour + "'></div>";
    }
    return html;
}

// Where bands of `count` must be: the middle of each, and both sides of every 8192 rows.
std::vector<std::array<int, 3>> bandPixels(int count, int x) {
    std::vector<std::array<int, 3>> at;
    for (int i = 0; i < count; ++i) at.push_back({x, i * 1000 + 500, static_cast<int>(colourOf(i))});
    for (int y = 8191; y < count * 1000; y += 8192)
        for (const int row : {y, y + 1}) at.push_back({x, row, static_cast<int>(colourOf(row / 1000))});
    return at;
}

TEST(TrueSize, PagesAsGeneratorsMakeThemArePaintedWholeAtTheScreensWidth) {
    const std::string xhtmlHead = "<?xml version='1.0' encoding='utf-8'?>\n<?xml-stylesheet type='text/css' href='b.css'?>\n"
                                  "<!DOCTYPE html PUBLIC '-//W3C//DTD XHTML 1.1//EN' "
                                  "'http://www.w3.org/TR/xhtml11/DTD/xhtml11.dtd'>\n";
    const std::vector<Made> pages = {
        // No body: the document is an XML one, measured by its root.
        {"XHTML whose root is in no namespace",
         {{"a.xhtml", xhtmlHead + "<html><head><title>t</title></head><body><p style='color: black'>one</p><p>two</p></body></html>"},
          {"b.css", "head { display: none } html, body, p { display: block; margin: 0 }"
                    "p { height: 1500px; background: #00c000 } p + p { background: #c000c0 }"}},
         1280, 3000, {{640, 10, 0x00c000}, {640, 2990, 0xc000c0}}},
        // Named as HTML, read as HTML, though its doctype makes the system take it for XHTML.
        {"HTML file with an XHTML doctype",
         {{"a.html", xhtmlHead + "<html><head><title>t</title></head><body style='margin:0'>" + bands(3) + "</body></html>"}},
         1280, 3000, bandPixels(3, 640)},
        // So is such a file in a frame of a local page, its links found beside it.
        {"HTML file with an XHTML doctype in a frame",
         {{"a.html", "<!doctype html><body style='margin:0'><iframe src='in/b.html' style='display:block;border:0;"
                     "width:100%;height:3500px'></iframe>"},
          {"in/b.html", xhtmlHead + "<html><head><link rel='stylesheet' href='c.css'/></head><body style='margin:0'>" +
                            bands(3) + "<p id='last'></p></body></html>"},
          {"in/c.css", "#last { height: 500px; margin: 0; background: #0000ff }"}},
         1280, 3500, [] { auto at = bandPixels(3, 640); at.push_back({640, 3250, 0x0000ff}); return at; }()},
        {"SVG document",
         {{"a.svg", "<svg xmlns='http://www.w3.org/2000/svg' width='1280' height='2500'>"
                    "<rect width='1280' height='1250' fill='#ff0000'/><rect y='1250' width='1280' height='1250' fill='#0000ff'/></svg>"}},
         1280, 2500, {{640, 10, 0xff0000}, {640, 2490, 0x0000ff}}},
        // A root whose height is its border box (100% under border-box), the page in a box
        // placed against the screen, painted in strips.
        {"border-box root in strips",
         {{"a.html", "<!doctype html><style>* { box-sizing: border-box } html, body { height: 100%; margin: 0 }"
                     "main { position: absolute; width: 100%; height: 100% }</style><main>" + bands(34) + "</main>"}},
         1280, 34000, bandPixels(34, 640)},
    };
    // Each page's faults are said, whichever page fails first; the frame's page is asked of
    // the service too.
    support::ServiceProcess service({"--jobs=1", "--allow-file"});
    const auto check = [&service](const Made& page, bool served) {
        SCOPED_TRACE(std::string(page.what) + (served ? " (service)" : ""));
        support::TempDir dir;
        for (const auto& [name, content] : page.files) {
            std::filesystem::create_directories(std::filesystem::path(dir.path(name)).parent_path());
            std::ofstream(dir.path(name)) << content;
        }
        const std::string address = "file://" + dir.path(page.files.begin()->first);
        std::optional<support::Picture> picture;
        if (served) {
            const auto r = service.get(support::shotOf(address));
            ASSERT_EQ(r.status, 200) << r.body;
            picture = support::answerPicture(r, "png");
        } else {
            const auto run = support::runCommand({VEMO_SHOT, address, dir.path("p.png")});
            ASSERT_EQ(run.status, 0) << run.err;
            picture = support::readPicture(dir.path("p.png"));
        }
        ASSERT_TRUE(picture);
        EXPECT_EQ(picture->width, page.width);
        ASSERT_EQ(picture->height, page.height);
        for (const auto& [x, y, colour] : page.pixels)
            EXPECT_EQ(picture->at(x, y), static_cast<std::uint32_t>(colour)) << "at " << x << ", " << y;
    };
    for (const auto& page : pages) check(page, false);
    check(pages[2], true);
}

}  // namespace
