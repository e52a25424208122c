// The notice page fetched over loopback HTTP by the hidden browser, and the timers
// that copy its texts and links onto the link label.
#include <gtest/gtest.h>

#include <chrono>
#include <set>

#include "tests/support/GuiHarness.h"

using support::GuiHarness;
using support::HttpServer;

namespace {

using Clock = std::chrono::steady_clock;

std::string noticePage(bool withLink1) {
    std::string html = "<html><body><form name='formsg'>"
                       "<input type='hidden' name='gg1' value='促销一'>"
                       "<input type='hidden' name='gg2' value='促销二'>"
                       "<input type='hidden' name='gg3' value='促销三'>"
                       "<input type='hidden' name='ggurl2' value='http://two.example/'>"
                       "<input type='hidden' name='ggurl3' value='https://three.example/'>";
    if (withLink1) html += "<input type='hidden' name='ggurl1' value='http://one.example/'>";
    return html + "</form></body></html>";
}

struct Sample {
    long ms;
    std::string caption, link;
};

std::vector<Sample> watch(GuiHarness& app, Clock::time_point start, long untilMs) {
    std::vector<Sample> samples;
    for (;;) {
        const long now = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
        if (now > untilMs) break;
        samples.push_back({now, app.main().label("lab_key").caption(), app.main().textBox("Text6").text()});
        app.settle(100);
    }
    return samples;
}

TEST(FeedGui, LabelAndLinkFollowTheThreePairsOverAFullCycle) {
    HttpServer server;
    server.serve("/update.asp", noticePage(true));
    const auto start = Clock::now();
    GuiHarness app(server.url("/update.asp"));
    const auto samples = watch(app, start, 13500);

    const std::map<std::string, std::string> pairs = {
        {"促销一", "http://one.example/"}, {"促销二", "http://two.example/"}, {"促销三", "https://three.example/"}};
    std::set<std::string> seen;
    for (const auto& s : samples) {
        if (s.ms < 1900) {
            EXPECT_EQ(s.caption, "") << s.ms;
            EXPECT_EQ(s.link, "http://www.vemo.example") << s.ms;
        }
        if (s.caption.empty()) continue;
        seen.insert(s.caption);
        ASSERT_TRUE(pairs.count(s.caption)) << s.caption;
        EXPECT_EQ(pairs.at(s.caption), s.link) << "at " << s.ms << " ms";
        // Between 2 and 4 s, and between 10 and 12 s, only the 2-second timer has ticked.
        if ((s.ms > 2600 && s.ms < 3500) || (s.ms > 10600 && s.ms < 11500)) {
            EXPECT_EQ(s.caption, "促销一") << s.ms;
        }
        // Ticks that fall together run shortest period first: the longer one has the last word.
        if ((s.ms > 4600 && s.ms < 5500) || (s.ms > 8600 && s.ms < 9500)) {
            EXPECT_EQ(s.caption, "促销二") << s.ms;
        }
        if ((s.ms > 6600 && s.ms < 7500) || s.ms > 12600) {
            EXPECT_EQ(s.caption, "促销三") << s.ms;
        }
    }
    EXPECT_EQ(seen.size(), 3u);
    EXPECT_TRUE(app.dialogs.warnings.empty());
}

TEST(FeedGui, PairWithoutItsLinkKeepsThePreviousLink) {
    HttpServer server;
    server.serve("/update.asp", noticePage(false));
    GuiHarness app(server.url("/update.asp"));
    ASSERT_TRUE(app.waitFor([&] { return !app.main().label("lab_key").caption().empty(); }, 4000));
    EXPECT_EQ(app.main().label("lab_key").caption(), "促销一");
    EXPECT_EQ(app.main().textBox("Text6").text(), "http://www.vemo.example");
    ASSERT_TRUE(app.waitFor([&] { return app.main().textBox("Text6").text() == "http://two.example/"; }, 4000));
}

TEST(FeedGui, UnreachableNoticePageLeavesTheLabelEmptyAndSaysNothing) {
    GuiHarness app(support::unreachableUrl("/update.asp"));
    app.settle(4500);
    EXPECT_EQ(app.main().label("lab_key").caption(), "");
    EXPECT_EQ(app.main().textBox("Text6").text(), "http://www.vemo.example");
    EXPECT_TRUE(app.dialogs.warnings.empty());
}

}  // namespace
