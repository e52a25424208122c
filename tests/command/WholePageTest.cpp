// Pages a whole-document paint gets wrong unless put right, each photographed by the
// command and read back against its known truth: screen units, strips, zoom, right to
// left, backgrounds fixed to the screen.
#include "tests/command/PageShots.h"
#include "tests/support/ServiceProcess.h"
#include "tests/support/TruePages.h"

namespace {

using WholePage = support::PageShots;

TEST_F(WholePage, EachPageComesOutAsItsScreenShowsItScrolledThrough) {
    for (const auto& page : support::truePages()) {
        server.serve("/" + page.name, page.html);
        const auto s = shot(server.url("/" + page.name), {}, page.name + ".png");
        EXPECT_EQ(s.run.status, 0) << page.name << ": " << s.run.err;
        if (!s.picture) {
            ADD_FAILURE() << page.name << ": no picture";
            continue;
        }
        EXPECT_EQ(support::mismatch(page, s.picture->width, s.picture->height,
                                    [&](int x, int y) { return s.picture->at(x, y); }),
                  "");
    }
}

// A part sized in dynamic units by a sheet from another origin, whose server lets the page
// read it: a screen high, as in a sheet of the page's own.
TEST_F(WholePage, DynamicUnitsInASheetFromAnotherOriginMeanTheScreen) {
    support::HttpServer other;
    other.respond("/hero.css", [](const std::string&) {
        const std::string css = ".hero { min-height: 100dvh; background: #00c000 }";
        return "200 OK\r\nContent-Type: text/css\r\nAccess-Control-Allow-Origin: *\r\nContent-Length: " +
               std::to_string(css.size()) + "\r\nConnection: close\r\n\r\n" + css;
    });
    server.serve("/hero", "<!doctype html><link rel=stylesheet href='" + other.url("/hero.css") +
                              "'><body style='margin:0'><div class=hero></div><div style='height:3000px;"
                              "background:#808080'></div>");
    const auto s = shot(server.url("/hero"));
    ASSERT_EQ(s.run.status, 0) << s.run.err;
    ASSERT_EQ(s.picture->height, 4024);
    EXPECT_EQ(s.picture->at(640, 1023), 0x00c000u);
    EXPECT_EQ(s.picture->at(640, 1024), 0x808080u);
}

// A page the engine paints less of than was measured, or that is shorter once painted in
// strips (each laid out to the height measured), is measured and painted again; one that
// goes on changing is written as far as it was painted, and said so.
TEST_F(WholePage, APagePaintedShortOfItsMeasureIsPaintedAgainOrSaid) {
    for (const int tall : {6000, 40000}) {
        const std::string name = "once" + std::to_string(tall);
        server.serve("/" + name, support::changingPage(true, tall));
        const auto again = shot(server.url("/" + name), {}, name + ".png");
        EXPECT_EQ(again.run.status, 0) << name << ": " << again.run.err;
        ASSERT_TRUE(again.picture) << name;
        EXPECT_EQ(again.picture->height, 1500) << name;
        EXPECT_EQ(again.picture->at(640, 1499), 0x00ff00u) << name;
    }
    server.serve("/shrinking-strips", support::changingPage(false, 40000));
    const auto strips = shot(server.url("/shrinking-strips"), {}, "shrinking-strips.png");
    EXPECT_EQ(strips.run.status, 7) << strips.run.err;
    EXPECT_NE(strips.run.err.find("twice over"), std::string::npos) << strips.run.err;

    server.serve("/shrinking", support::changingPage(false));
    const auto said = shot(server.url("/shrinking"), {"--report=" + out.path("report.json")}, "shrinking.png");
    EXPECT_EQ(said.run.status, 7) << said.run.err;
    EXPECT_NE(said.run.err.find("the engine painted 1280 x "), std::string::npos) << said.run.err;
    EXPECT_NE(said.run.err.find("twice over"), std::string::npos) << said.run.err;
    ASSERT_TRUE(said.picture);
    // What was painted, no white below it.
    EXPECT_LT(said.picture->height, 6500);
    EXPECT_EQ(said.picture->at(640, 10), 0xff0000u);
    EXPECT_EQ(said.picture->at(640, said.picture->height - 1), 0x00ff00u);
}

// The service shares the engine: one page of each family through it.
TEST_F(WholePage, TheServiceAnswersEachFamilyWithThePageAsItIs) {
    support::ServiceProcess service({"--jobs=1", "--allow-private"});
    for (const char* name :
         {"dynamic-units", "long", "zoom-out", "right-to-left", "fixed-backgrounds", "fixed-root", "styled-scroll-bars"}) {
        const auto page = support::truePage(name);
        server.serve("/" + page.name, page.html);
        const auto r = service.get(support::shotOf(server.url("/" + page.name)));
        const auto picture = support::answerPicture(r, "png");
        if (r.status != 200 || !picture) {
            ADD_FAILURE() << name << ": " << r.status << " " << r.body << service.log();
            continue;
        }
        EXPECT_EQ(r.headers.at("vemo-status"), "ok") << name;
        EXPECT_EQ(support::mismatch(page, picture->width, picture->height, [&](int x, int y) { return picture->at(x, y); }),
                  "");
    }
    for (const int tall : {6000, 40000}) {
        const std::string name = "/shrinking" + std::to_string(tall);
        server.serve(name, support::changingPage(false, tall));
        const auto r = service.get(support::shotOf(server.url(name)));
        ASSERT_EQ(r.status, 200) << name << ": " << r.body;
        EXPECT_EQ(r.headers.at("vemo-status"), "incomplete") << name;
        EXPECT_NE(r.headers.at("vemo-message").find("engine%20painted%201280%20x%20"), std::string::npos)
            << name << ": " << r.headers.at("vemo-message");
    }
}

}  // namespace
