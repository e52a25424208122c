// Button faces, the link label, the title link and dragging the windows.
#include <gtest/gtest.h>

#include "tests/fakes/FakeApp.h"

namespace {

using platform::LeftButton;
using platform::RightButton;

struct Faces : ::testing::Test {
    std::string face(const char* button) { return a.main().image(button).picture().name; }
    fakes::FakeApp a;
};

TEST_F(Faces, HoverPressAndReleaseOnAButton) {
    a.main().image("vo_open").handlers.fireMove(0);
    EXPECT_EQ(face("vo_open"), "button2.jpg");
    a.main().label("lab_open").handlers.fireDown(RightButton);  // any button presses
    EXPECT_EQ(face("vo_open"), "button3.jpg");
    a.main().label("lab_open").handlers.fireClick();  // release: the pressed face stays
    EXPECT_EQ(face("vo_open"), "button3.jpg");
    a.main().label("lab_open").handlers.fireMove(LeftButton);
    EXPECT_EQ(face("vo_open"), "button2.jpg");
    EXPECT_EQ(face("vo_photo"), "button1.jpg");
    EXPECT_EQ(face("vo_save"), "button1.jpg");
}

TEST_F(Faces, SurfaceBetweenButtonsResetsThemButAJumpDoesNot) {
    a.main().image("vo_open").handlers.fireMove(0);
    a.main().moveOverSurface();
    a.main().image("vo_photo").handlers.fireMove(0);
    EXPECT_EQ(face("vo_open"), "button1.jpg");
    EXPECT_EQ(face("vo_photo"), "button2.jpg");

    a.main().label("lab_save").handlers.fireMove(0);  // jumped across the gap
    EXPECT_EQ(face("vo_photo"), "button2.jpg");
    EXPECT_EQ(face("vo_save"), "button2.jpg");
    a.main().moveOverSurface();
    for (const char* b : {"vo_open", "vo_photo", "vo_save"}) EXPECT_EQ(face(b), "button1.jpg");
}

TEST_F(Faces, EachPairRunsItsOwnCommand) {
    a.browser().holdPage(1000, 1000);
    a.main().label("lab_photo").handlers.fireClick();
    EXPECT_EQ(a.browser().prints, 1);
    a.main().image("vo_photo").handlers.fireClick();
    EXPECT_EQ(a.browser().prints, 2);
    a.main().image("vo_save").handlers.fireClick();
    EXPECT_EQ(a.p.dialogs.requests.size(), 1u);
}

TEST_F(Faces, LinkUnderlinesOnHoverUntilTheSurfaceIsReached) {
    auto& key = a.main().label("lab_key");
    key.handlers.fireMove(0);
    EXPECT_TRUE(key.underline());
    a.main().image("vo_photo").handlers.fireMove(0);  // onto another control: stays
    EXPECT_TRUE(key.underline());
    a.main().moveOverSurface();
    EXPECT_FALSE(key.underline());
}

TEST_F(Faces, LinkOpensOnlyWebAddresses) {
    auto& key = a.main().label("lab_key");
    key.handlers.fireClick();  // the initial home page
    auto& text6 = a.main().textBox("Text6");
    for (const std::string link : {"https://promo.example/a?b=1", "HTTP://X.example"}) {
        text6.setText(link);
        key.handlers.fireClick();
    }
    for (const std::string link : {"", "file:///etc/passwd", "/usr/bin/xterm", "javascript:alert(1)", "http://",
                                   "http:///x", "http://a b.example", "ftp://a.example",
                                   "https://www.vemo.example@evil.example/", "http://-oProxyCommand=x"}) {
        text6.setText(link);
        key.handlers.fireClick();
    }
    using Opened = std::vector<std::pair<std::string, platform::ShowCommand>>;
    const auto max = platform::ShowCommand::Maximized;
    EXPECT_EQ(a.p.shell.opened,
              (Opened{{"http://www.vemo.example", max}, {"https://promo.example/a?b=1", max}, {"HTTP://X.example", max}}));
}

TEST_F(Faces, TitleLinkOpensTheHomePage) {
    a.main().label("Label3").handlers.fireClick();
    ASSERT_EQ(a.p.shell.opened.size(), 1u);
    EXPECT_EQ(a.p.shell.opened[0].first, "http://www.vemo.example");
}

TEST_F(Faces, TitleStripsDragTheirOwnWindow) {
    a.main().image("title_Dong").handlers.fireDown(LeftButton);
    a.main().label("Label2").handlers.fireDown(RightButton);
    a.main().label("Label4").handlers.fireDown(platform::MiddleButton);
    EXPECT_EQ(a.main().drags, 3);
    a.main().image("vo_exit").handlers.fireDown(LeftButton);
    EXPECT_EQ(a.main().drags, 3);

    a.type("http://a.example/");
    a.clickOpen();
    a.view()->image("title_Dong").handlers.fireDown(LeftButton);
    EXPECT_EQ(a.view()->drags, 1);
    EXPECT_EQ(a.main().drags, 3);
    EXPECT_TRUE(a.view()->label("Label3").handlers.down.empty());  // the viewer's title text does not drag
}

}  // namespace
