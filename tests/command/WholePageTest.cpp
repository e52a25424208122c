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

// The service shares the engine: one page of each family through it.
TEST_F(WholePage, TheServiceAnswersEachFamilyWithThePageAsItIs) {
    support::ServiceProcess service({"--jobs=1", "--allow-private"});
    for (const char* name : {"dynamic-units", "long", "zoom-out", "right-to-left", "fixed-backgrounds"}) {
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
}

}  // namespace
