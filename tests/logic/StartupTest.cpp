// Start-up and the end of the program.
#include <gtest/gtest.h>

#include "tests/fakes/FakeApp.h"

namespace {

TEST(Startup, LoadCollapsesParksTheBrowserAndStartsTheNoticeRequest) {
    fakes::FakeApp a({15360, 11520, 15, 15});  // a 1024 x 768 screen
    EXPECT_EQ(a.main().height(), 825);
    EXPECT_EQ(a.main().width(), 11160);
    EXPECT_EQ(a.main().left(), 4875);
    EXPECT_EQ(a.main().top(), 2070);
    EXPECT_TRUE(a.main().visible());

    EXPECT_EQ(a.browser().left(), 960);
    EXPECT_EQ(a.browser().top(), -20000);
    EXPECT_EQ(a.browser().width(), 15360);
    EXPECT_EQ(a.browser().height(), 11520);
    const auto& parked = a.road().capture().parking();
    EXPECT_EQ(parked.left, 960);
    EXPECT_EQ(parked.top, -20000);
    EXPECT_EQ(parked.width, 15360);
    EXPECT_EQ(parked.height, 11520);

    for (const char* b : {"vo_open", "vo_photo", "vo_save"}) EXPECT_EQ(a.main().image(b).picture().name, "button1.jpg");
    EXPECT_FALSE(a.picture1().visible());
    EXPECT_FALSE(a.hscroll().enabled());
    EXPECT_FALSE(a.vscroll().enabled());
    EXPECT_EQ(a.main().textBox("Text1").text(), "http://www.Vemo.example");
    EXPECT_EQ(a.main().textBox("Text6").text(), "http://www.vemo.example");
    EXPECT_EQ(a.main().label("Label3").caption(), "Vemo网页快照v1.0   www.vemo.example Vemo软件");

    // The hidden notice window exists, is never shown, and asked for its page once.
    auto* web = a.p.ui.window("frmWeb");
    ASSERT_NE(web, nullptr);
    EXPECT_FALSE(web->visible());
    EXPECT_EQ(web->browser("WebGet").navigations, std::vector<std::string>{"http://www.vemo.example/update.asp"});
    EXPECT_EQ(a.view(), nullptr);
}

TEST(Startup, CloseSpotAndWindowSystemCloseEndTheProgram) {
    fakes::FakeApp a;
    a.main().image("vo_exit").handlers.fireClick();
    EXPECT_EQ(a.p.ui.ends, 1);
    a.main().requestClose();
    EXPECT_EQ(a.p.ui.ends, 2);
}

TEST(Startup, RoundingIsToTheEvenNeighbour) {
    EXPECT_EQ(snapshot::roundHalfEven(2.5), 2);
    EXPECT_EQ(snapshot::roundHalfEven(3.5), 4);
    EXPECT_EQ(snapshot::roundHalfEven(-20000.4), -20000);
    std::int16_t v = 0;
    EXPECT_TRUE(snapshot::toInt16(32767.4, v));
    EXPECT_EQ(v, 32767);
    EXPECT_FALSE(snapshot::toInt16(32767.5, v));
    EXPECT_TRUE(snapshot::toInt16(-32768, v));
    EXPECT_FALSE(snapshot::toInt16(-32769, v));
}

}  // namespace
