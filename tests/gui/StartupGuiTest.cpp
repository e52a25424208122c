// The main window and the viewer on the real toolkit and engine.
#include <gtest/gtest.h>

#include "platform/gtk/GtkControls.h"
#include "tests/support/GuiHarness.h"

using support::GuiHarness;
using support::TempDir;
using support::writePage;

namespace {

TEST(StartupGui, MainWindowOpensCollapsedAtItsPlaceWithTheBrowserParked) {
    GuiHarness app;
    auto& window = dynamic_cast<platform::gtk::GtkWindowImpl&>(app.main()).gtkWindow();
    int x = 0, y = 0, w = 0, h = 0;
    window.get_position(x, y);
    ASSERT_TRUE(app.waitFor([&] { window.get_size(w, h); return h == 55; }, 3000));
    EXPECT_EQ(x, 325);
    EXPECT_EQ(y, 138);
    EXPECT_EQ(w, 744);
    EXPECT_EQ(h, 55);
    EXPECT_FALSE(window.get_decorated());
    EXPECT_TRUE(window.get_skip_taskbar_hint());
    EXPECT_EQ(window.get_title(), "Vemo迷你网页快照");

    // On this 96-dpi screen: 15 twips a pixel.
    const auto screen = app.ui.screen();
    EXPECT_EQ(screen.twipsPerPixelX, 15);
    auto& browser = app.main().browser("WebBrowser1");
    EXPECT_EQ(browser.left(), 960);
    EXPECT_EQ(browser.top(), -20000);
    EXPECT_EQ(browser.width(), screen.widthTwips);
    EXPECT_EQ(browser.height(), screen.heightTwips);
    const auto& parked = app.road().capture().parking();
    EXPECT_EQ(parked.left, 960);
    EXPECT_EQ(parked.top, -20000);
    EXPECT_EQ(parked.width, screen.widthTwips);
    EXPECT_EQ(parked.height, screen.heightTwips);

    EXPECT_EQ(app.main().textBox("Text1").text(), "http://www.Vemo.example");
    EXPECT_FALSE(app.main().pictureBox("Picture1").visible());
    for (const char* b : {"vo_open", "vo_photo", "vo_save"}) EXPECT_EQ(app.main().image(b).picture().name, "button1.jpg");
}

TEST(StartupGui, OpenedPageShowsInTheViewerWithTheHintInBothTitles) {
    TempDir pages;
    GuiHarness app;
    ASSERT_TRUE(app.open(writePage(pages, "hello.html", "<html><body><h1>你好</h1></body></html>")));
    auto* view = app.road().viewer().current();
    ASSERT_NE(view, nullptr);
    EXPECT_TRUE(view->window().visible());
    EXPECT_EQ(app.main().label("Label4").caption(), "如果显示黑屏，请过10秒后再点拍照！");
    EXPECT_EQ(app.main().height(), 825);

    // A second open reuses the viewer; closing it and opening again makes a new one.
    ASSERT_TRUE(app.open(writePage(pages, "again.html", "<html><body>again</body></html>")));
    EXPECT_EQ(app.road().viewer().current(), view);
    app.road().viewer().close();
    app.main().textBox("Text1").setText(writePage(pages, "third.html", "<html><body>third</body></html>"));
    app.road().openCommand();
    ASSERT_NE(app.road().viewer().current(), nullptr);
    EXPECT_EQ(app.road().viewer().current()->window().label("Label3").caption(), "网页预览--网页加载");
    EXPECT_EQ(app.main().label("Label4").caption(), "如果显示黑屏，请过10秒后再点拍照！");
}

TEST(StartupGui, PageInTheCaptureBrowserGetsNoWindowOfItsOwn) {
    TempDir pages;
    GuiHarness app;
    int asked = 0;
    app.main().browser("WebBrowser1").onNewWindow([&](bool&) { ++asked; });
    const std::string html =
        "<html><body><form name='formsg'><input id='result' name='result' value='waiting'></form><script>"
        "var w = window.open('about:blank', '_blank');"
        "document.getElementById('result').value = w ? 'opened' : 'refused';</script></body></html>";
    ASSERT_TRUE(app.open(writePage(pages, "popup.html", html)));

    std::optional<std::string> result;
    bool replied = false;
    app.main().browser("WebBrowser1").readForm("formsg", {"result"}, [&](const auto& values) {
        replied = true;
        result = values.at(0);
    });
    ASSERT_TRUE(app.waitFor([&] { return replied; }, 5000));
    EXPECT_GE(asked, 1);
    EXPECT_EQ(result, "refused");
}

}  // namespace
