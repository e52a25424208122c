// The notice page fetched over loopback HTTP by the hidden browser, and the timers
// that copy its texts and links onto the link label.
#include <gtest/gtest.h>

#include <chrono>
#include <set>

#include "tests/support/GuiHarness.h"

using support::GuiHarness;
using support::HttpServer;

namespace {

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

// What the link label and the link settle on after each round of ticks. The timers
// that fall due together each read the notice page, whose answers come one by one: the
// changes of one round come close together, and the last of them is what stays.
struct Change {
    std::string caption, link;
};

std::vector<Change> watchRounds(GuiHarness& app, std::size_t count, int ms) {
    using Clock = std::chrono::steady_clock;
    std::vector<Change> rounds{{app.main().label("lab_key").caption(), app.main().textBox("Text6").text()}};
    auto last = Clock::now() - std::chrono::hours(1);
    app.waitFor(
        [&] {
            const Change now{app.main().label("lab_key").caption(), app.main().textBox("Text6").text()};
            if (now.caption != rounds.back().caption || now.link != rounds.back().link) {
                // A change soon after the one before belongs to the same round of ticks.
                if (Clock::now() - last < std::chrono::milliseconds(700) && rounds.size() > 1) rounds.back() = now;
                else rounds.push_back(now);
                last = Clock::now();
            }
            return rounds.size() > count;
        },
        ms);
    return rounds;
}

TEST(FeedGui, LabelAndLinkFollowTheThreePairsOverAFullCycle) {
    HttpServer server;
    server.serve("/update.asp", noticePage(true));
    GuiHarness app(server.url("/update.asp"));
    // Over the twelve seconds of a cycle the 2, 4 and 6-second timers tick at 2, 4, 6, 8,
    // 10 and 12 s; ticks that fall together run shortest period first, so the longer
    // one has the last word. The order is checked, not the clock: a slow machine shows
    // the same sequence, later.
    auto changes = watchRounds(app, 7, 30000);
    changes.resize(std::min<std::size_t>(changes.size(), 7));
    const std::vector<std::string> expected = {"", "促销一", "促销二", "促销三", "促销二", "促销一", "促销三"};
    ASSERT_EQ(changes.size(), expected.size());
    const std::map<std::string, std::string> links = {{"", "http://www.vemo.example"},
                                                      {"促销一", "http://one.example/"},
                                                      {"促销二", "http://two.example/"},
                                                      {"促销三", "https://three.example/"}};
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(changes[i].caption, expected[i]) << i;
        EXPECT_EQ(changes[i].link, links.at(changes[i].caption)) << i;
    }
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
