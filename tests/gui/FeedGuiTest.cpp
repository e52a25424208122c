// The notice page fetched over loopback HTTP by the hidden browser, and the timers
// that copy its texts and links onto the link label.
#include <glib.h>
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

// What the link label and the link show as each round of ticks begins: what the round
// before left. The timers that fall due together tick in one pass of the main loop, and
// each reads the notice page, whose answers come back before the next round.
struct Change {
    std::string caption, link;
};

struct Rounds {
    std::vector<Change> seen;
    bool inRound = false;
};

std::shared_ptr<Rounds> countRounds(GuiHarness& app) {
    auto rounds = std::make_shared<Rounds>();
    auto& main = app.main();
    for (const char* name : {"tim_gg1", "tim_gg2", "tim_gg3"})
        main.timer(name).onTimer([rounds, &main] {
            if (rounds->inRound) return;
            rounds->inRound = true;
            rounds->seen.push_back({main.label("lab_key").caption(), main.textBox("Text6").text()});
            // The round ends when the main loop has run every timer that fell due with it.
            g_idle_add([](gpointer r) -> gboolean {
                static_cast<Rounds*>(r)->inRound = false;
                return G_SOURCE_REMOVE;
            }, rounds.get());
        });
    return rounds;
}

std::vector<Change> watchRounds(GuiHarness& app, std::size_t count, int ms) {
    const auto rounds = countRounds(app);
    app.waitFor([&] { return rounds->seen.size() >= count; }, ms);
    return rounds->seen;
}

TEST(FeedGui, LabelAndLinkFollowTheThreePairsOverAFullCycle) {
    HttpServer server;
    server.serve("/update.asp", noticePage(true));
    GuiHarness app(server.url("/update.asp"));
    // Over the twelve seconds of a cycle the 2, 4 and 6-second timers tick at 2, 4, 6, 8,
    // 10 and 12 s; ticks that fall together run shortest period first, so the longer
    // one has the last word. The order is checked, not the clock: a slow machine shows
    // the same sequence, later.
    auto changes = watchRounds(app, 7, 60000);
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
    const auto rounds = countRounds(app);
    ASSERT_TRUE(app.waitFor([&] { return rounds->seen.size() >= 3; }, 30000));
    EXPECT_EQ(app.main().label("lab_key").caption(), "");
    EXPECT_EQ(app.main().textBox("Text6").text(), "http://www.vemo.example");
    EXPECT_TRUE(app.dialogs.warnings.empty());
}

}  // namespace
