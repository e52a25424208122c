// Pages a whole-document paint gets wrong unless put right, each photographed by the
// command and read back against its known truth: screen units, strips, zoom, right to
// left, backgrounds fixed to the screen.
#include "tests/command/PageShots.h"
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

}  // namespace
