// The notice feed's timers, and things dropped on the preview.
#include <gtest/gtest.h>

#include "tests/fakes/FakeApp.h"

namespace {

struct Feed : ::testing::Test {
    fakes::FakeBrowser& notice() { return a.p.ui.window("frmWeb")->browser("WebGet"); }
    std::string caption() { return a.main().label("lab_key").caption(); }
    std::string link() { return a.main().textBox("Text6").text(); }
    void page(std::map<std::string, std::string> fields) {
        notice().hasForm = true;
        notice().formFields = std::move(fields);
    }
    fakes::FakeApp a;
};

TEST_F(Feed, NothingChangesUntilThePageHasArrived) {
    a.p.ui.advance(1999);
    EXPECT_EQ(caption(), "");
    a.p.ui.advance(20000);  // ticks on a page without the form
    EXPECT_EQ(caption(), "");
    EXPECT_EQ(link(), "http://www.vemo.example");
    EXPECT_TRUE(a.p.dialogs.warnings.empty());
}

TEST_F(Feed, TheThreePairsFollowTheTimersOverAFullCycle) {
    page({{"gg1", "一"}, {"ggurl1", "http://1.example"}, {"gg2", "二"}, {"ggurl2", "http://2.example"},
          {"gg3", "三"}, {"ggurl3", "http://3.example"}});
    std::vector<std::string> seen;
    for (int second = 2; second <= 12; second += 2) {
        a.p.ui.advance(2000);
        seen.push_back(caption() + " " + link());
    }
    // At 4 s gg1 and gg2 fall due, at 6 s gg1 and gg3, at 12 s all three; the later timer wins.
    EXPECT_EQ(seen, (std::vector<std::string>{"一 http://1.example", "二 http://2.example", "三 http://3.example",
                                              "二 http://2.example", "一 http://1.example", "三 http://3.example"}));
}

TEST_F(Feed, MissingLinkKeepsThePreviousLinkAndLiveValuesAreReadEachTick) {
    page({{"gg1", "一"}, {"gg2", "二"}, {"ggurl2", "http://2.example"}});
    a.p.ui.advance(2000);
    EXPECT_EQ(caption(), "一");
    EXPECT_EQ(link(), "http://www.vemo.example");
    a.p.ui.advance(2000);
    EXPECT_EQ(link(), "http://2.example");
    a.p.ui.advance(2000);  // tim_gg1 again: text 1 with link 2
    EXPECT_EQ(caption(), "一");
    EXPECT_EQ(link(), "http://2.example");

    notice().formFields["gg1"] = "";
    notice().formFields["ggurl1"] = "";
    a.p.ui.advance(4000);  // at 8 s tim_gg2 ticks after tim_gg1; at 10 s tim_gg1 alone
    EXPECT_EQ(caption(), "");
    EXPECT_EQ(link(), "");
}

TEST(Drop, FileListOpensItsFirstPathOnly) {
    fakes::FakeApp a;
    platform::DropData d;
    d.hasFiles = true;
    d.files = {"/tmp/one.png", "/tmp/two.png"};
    d.hasText = true;
    d.text = "http://ignored.example";
    a.main().pictureBox("Picture1").drop(d);
    a.main().pictureBox("Picture2").drop(d);
    using Opened = std::vector<std::pair<std::string, platform::ShowCommand>>;
    EXPECT_EQ(a.p.shell.opened, (Opened{{"/tmp/one.png", platform::ShowCommand::Normal},
                                        {"/tmp/one.png", platform::ShowCommand::Normal}}));
    EXPECT_TRUE(a.browser().navigations.empty());
    EXPECT_FALSE(a.picture1().visible());  // nothing goes into the preview
}

TEST(Drop, WebAndFileAddressesAreNavigatedUnchangedAndNothingElse) {
    fakes::FakeApp a;
    platform::DropData text;
    text.hasText = true;
    for (const std::string t : {"javascript:document.body.innerHTML='x'", "  not an address ", "data:text/html,<b>x",
                                "about:blank", "http://a.example/\njavascript:1", "JavaScript:alert(1)", "http:/x", ""}) {
        text.text = t;
        a.main().pictureBox("Picture2").drop(text);
    }
    EXPECT_TRUE(a.browser().navigations.empty());
    for (const std::string t : {"HTTPS://a.example/p?q=1", "http://b.example", "file:///tmp/page.html"}) {
        text.text = t;
        a.main().pictureBox("Picture2").drop(text);
    }
    EXPECT_EQ(a.browser().navigations,
              (std::vector<std::string>{"HTTPS://a.example/p?q=1", "http://b.example", "file:///tmp/page.html"}));
    EXPECT_EQ(a.main().textBox("Text1").text(), "http://www.Vemo.example");
    EXPECT_EQ(a.view(), nullptr);
    EXPECT_EQ(a.browser().prints, 0);

    a.main().pictureBox("Picture1").drop(platform::DropData{});
    EXPECT_EQ(a.browser().navigations.size(), 3u);
    EXPECT_TRUE(a.p.shell.opened.empty());
}

}  // namespace
