// A page that grows whenever its end is seen is followed as it grows, and written as far
// as it grew within its time limit, said so and with its own exit status: also when a
// busy machine holds the command still. Pages over loopback, colours read back.
#include <algorithm>

#include "tests/command/PageShots.h"

namespace {

constexpr std::uint32_t kGreen = 0x00ff00, kBlue = 0x0000ff;

class EndlessPage : public support::PageShots {
protected:
    // Pages that tell the server of each block they add past the first two.
    long grown() {
        const auto paths = server.requested();
        return std::count(paths.begin(), paths.end(), "/grew");
    }
};

TEST_F(EndlessPage, IsWrittenAsFarAsItGrewWithinTheTimeLimitAndSaidSo) {
    // Pages that grow by 1000 px blocks, green and blue, whenever their end is seen: by an
    // observer of an element below the blocks, or by a scroll listener. Each block past
    // the first two is told to the server.
    const std::string more = "<script>let n = 0; function more() { const d = document.createElement('div');"
                             "d.style.cssText = 'height:1000px;background:' + (n++ % 2 ? '#00f' : '#0f0');"
                             "list.appendChild(d); if (n > 2) fetch('/grew'); } more(); more();";
    server.serve("/observed", "<!doctype html><body style='margin:0'><div id=list></div><div id=s style='height:10px'></div>" +
                                  more + "new IntersectionObserver(es => { if (es[0].isIntersecting) setTimeout(more, 50); })"
                                         ".observe(s);</script>");
    server.serve("/scrolled", "<!doctype html><body style='margin:0'><div id=list></div>" + more +
                                  "addEventListener('scroll', () => { if (scrollY + innerHeight > "
                                  "document.body.scrollHeight - 500) setTimeout(more, 30); });</script>");
    // The command (where the page's rendering steps come from) may be held still by a busy
    // machine while the page's own timers run on: early on, or across the end of the
    // warm-up's share of the time limit (three quarters: 9 s of 12, counted from a little
    // before the page is asked for), leaving the photo of a narrow page the rest.
    enum class Held { No, AsItOpens, Early, AcrossTheWarmUpsEnd };
    struct Case {
        std::string path;
        std::vector<std::string> args;
        int limitS;
        Held held = Held::No;
    };
    const Case cases[] = {
        {"/observed", {}, 30},
        {"/observed", {"--timeout=20"}, 20},
        {"/scrolled", {"--timeout=8"}, 8},
        {"/scrolled", {"--timeout=8"}, 10, Held::AsItOpens},
        {"/scrolled", {"--timeout=8"}, 10, Held::Early},
        {"/scrolled", {"--timeout=12", "--width=320"}, 14, Held::AcrossTheWarmUpsEnd},
        {"/observed", {"--timeout=12", "--width=320"}, 14, Held::AcrossTheWarmUpsEnd},
    };
    for (const auto& c : cases) {
        std::filesystem::remove(out.path("p.png"));
        const auto started = std::chrono::steady_clock::now();
        support::Shot s;
        // Holds once `ms` have passed since the page was asked for.
        const auto sinceAsked = [&](int ms) {
            return [&, ms, asked = server.requested().size(),
                    opened = std::optional<std::chrono::steady_clock::time_point>()]() mutable {
                if (!opened && server.requested().size() > asked) opened = std::chrono::steady_clock::now();
                return opened && std::chrono::steady_clock::now() >= *opened + std::chrono::milliseconds(ms);
            };
        };
        if (c.held == Held::AsItOpens) {  // about when its warm-up begins
            s = heldShot(server.url(c.path), c.args, sinceAsked(150), 1500, c.limitS);
        } else if (c.held == Held::Early) {
            const auto grew = grown();
            s = heldShot(server.url(c.path), c.args, [&] { return grown() >= grew + 2; }, 1500, c.limitS);
        } else if (c.held == Held::AcrossTheWarmUpsEnd) {
            s = heldShot(server.url(c.path), c.args, sinceAsked(7500), 1800, c.limitS);
        } else {
            s = shot(server.url(c.path), c.args, "p.png");
        }
        const auto took = std::chrono::steady_clock::now() - started;
        const std::string what = c.path + (c.args.empty() ? "" : " " + c.args[0]) + " held " + std::to_string(int(c.held));
        // Written as it stood, within the limit (and the command's start and the file's
        // writing), with its own status, and said.
        EXPECT_EQ(s.run.status, 7) << what << ": " << s.run.err;
        EXPECT_LT(took, std::chrono::seconds(c.limitS + 10)) << what;
        EXPECT_NE(s.run.err.find("the page kept growing"), std::string::npos) << what << ": " << s.run.err;
        ASSERT_TRUE(s.picture) << what;
        // It grew as it was scrolled, up to the height a page is followed to at most.
        EXPECT_GT(s.picture->height, 4000) << what;
        EXPECT_LE(s.picture->height, 52000) << what;
        for (int y = 500; y < s.picture->height - 1000; y += 7000)
            EXPECT_EQ(s.picture->at(10, y), (y / 1000) % 2 ? kBlue : kGreen) << what << " at " << y;
    }
}

}  // namespace
