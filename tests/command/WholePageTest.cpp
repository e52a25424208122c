// Pages a whole-document paint gets wrong unless put right, each photographed by the
// command and read back against its known truth: screen units, strips, zoom, right to
// left, backgrounds fixed to the screen.
#include "tests/command/PageShots.h"
#include "tests/support/ServiceProcess.h"
#include "tests/support/TruePages.h"

namespace {

using WholePage = support::PageShots;

// A red section the measurement shows (it renders only when seen) over a green block the page
// cuts to 1000 px when that section's style changes (`once`), or by 1000 px at each change.
std::string changingPage(bool once) {
    return std::string("<!doctype html><body style='margin:0'>"
                       "<section id=s style='content-visibility:auto;contain-intrinsic-size:500px'>"
                       "<div style='height:500px;background:#ff0000'></div></section>"
                       "<div id=t style='height:6000px;background:#00ff00'></div><script>"
                       "new MutationObserver(function () { var t = document.getElementById('t');") +
           (once ? "t.style.height = '1000px';" : "t.style.height = Math.max(0, t.offsetHeight - 1000) + 'px';") +
           "}).observe(document.getElementById('s'), {attributes: true});</script></body>";
}

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

// A page the engine paints less of than was measured is measured and painted again; one
// that goes on changing is written as far as it was painted, and said so.
TEST_F(WholePage, APagePaintedShortOfItsMeasureIsPaintedAgainOrSaid) {
    server.serve("/once", changingPage(true));
    const auto again = shot(server.url("/once"), {}, "once.png");
    EXPECT_EQ(again.run.status, 0) << again.run.err;
    ASSERT_TRUE(again.picture);
    EXPECT_EQ(again.picture->height, 1500);
    EXPECT_EQ(again.picture->at(640, 1499), 0x00ff00u);

    server.serve("/shrinking", changingPage(false));
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
    server.serve("/shrinking", changingPage(false));
    const auto r = service.get(support::shotOf(server.url("/shrinking")));
    ASSERT_EQ(r.status, 200) << r.body;
    EXPECT_EQ(r.headers.at("vemo-status"), "incomplete");
    EXPECT_NE(r.headers.at("vemo-message").find("engine%20painted%201280%20x%20"), std::string::npos)
        << r.headers.at("vemo-message");
}

}  // namespace
