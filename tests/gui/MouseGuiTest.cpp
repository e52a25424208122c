// A real pointer, moved and pressed by xdotool on the virtual screen: button faces,
// the link underline and dragging the windows by their title strips.
#include <gtest/gtest.h>

#include <cstdlib>
#include <future>

#include "platform/gtk/GtkControls.h"
#include "tests/support/GuiHarness.h"

using support::GuiHarness;
using support::TempDir;

namespace {

class MouseGui : public ::testing::Test {
protected:
    // Runs xdotool with `args` while the program keeps handling its events.
    void pointer(const std::string& args) {
        auto done = std::async(std::launch::async, [args] {
            return std::system(("xdotool " + args + " >/dev/null 2>&1").c_str());
        });
        ASSERT_TRUE(app.waitFor([&] { return done.wait_for(std::chrono::seconds(0)) == std::future_status::ready; },
                                10000));
        ASSERT_EQ(done.get(), 0) << args;
        app.settle(150);
    }
    std::pair<int, int> position(platform::IWindow& w) {
        int x = 0, y = 0;
        dynamic_cast<platform::gtk::GtkWindowImpl&>(w).gtkWindow().get_position(x, y);
        return {x, y};
    }
    std::string face(const char* button) { return app.main().image(button).picture().name; }

    void SetUp() override {
        if (std::system("command -v xdotool >/dev/null") != 0) GTEST_SKIP() << "xdotool is not installed";
    }
    GuiHarness app;
};

// The main window opens at 325, 138 px; the open button lies at 288, 30 inside it.
TEST_F(MouseGui, ButtonFacesFollowThePointer) {
    pointer("mousemove 325 138 mousemove 335 190");  // the bare toolbar band
    pointer("mousemove 618 170");                     // the open button's image edge
    EXPECT_EQ(face("vo_open"), "button2.jpg");
    pointer("mousedown 3");
    EXPECT_EQ(face("vo_open"), "button3.jpg");
    pointer("mouseup 3");
    EXPECT_EQ(face("vo_open"), "button3.jpg");
    pointer("mousemove 640 178");  // over its label
    EXPECT_EQ(face("vo_open"), "button2.jpg");
    pointer("mousemove 340 190");  // back to the band
    EXPECT_EQ(face("vo_open"), "button1.jpg");

    // The link label underlines while the pointer is on it, and only the band removes it.
    app.main().label("lab_key").setCaption("促销");
    pointer("mousemove 835 176");
    EXPECT_TRUE(app.main().label("lab_key").underline());
    pointer("mousemove 450 177");  // onto the address box
    EXPECT_TRUE(app.main().label("lab_key").underline());
    pointer("mousemove 340 190");
    EXPECT_FALSE(app.main().label("lab_key").underline());
}

TEST_F(MouseGui, TitleStripsDragTheirOwnWindowAndTheCloseSpotDoesNot) {
    const auto start = position(app.main());
    pointer("mousemove 400 148 mousedown 1 mousemove 420 160 mousemove 460 190 mouseup 1");
    const auto moved = position(app.main());
    EXPECT_EQ(moved.first - start.first, 60);
    EXPECT_EQ(moved.second - start.second, 42);

    // A press on the slogan drags as well; a press on the close spot does not.
    pointer("mousemove " + std::to_string(moved.first + 400) + " " + std::to_string(moved.second + 10) +
            " mousedown 1 mousemove " + std::to_string(moved.first + 380) + " " + std::to_string(moved.second + 20) +
            " mousemove " + std::to_string(moved.first + 370) + " " + std::to_string(moved.second + 30) + " mouseup 1");
    const auto again = position(app.main());
    EXPECT_EQ(again.first - moved.first, -30);
    EXPECT_EQ(again.second - moved.second, 20);
}

TEST_F(MouseGui, WheelAndKeysPanThePreview) {
    TempDir pages;
    ASSERT_TRUE(app.open(support::writePage(pages, "tall.html",
                                            "<!doctype html><html><body style='margin:0'>"
                                            "<div style='height:5000px;background:#0a0'></div></body></html>")));
    app.road().photoCommand();
    app.settle(300);
    auto& bar = app.main().scrollBar("VScroll1");
    pointer("mousemove 600 400 click 5 click 5");  // two notches down over the preview
    EXPECT_EQ(bar.value(), 120);
    EXPECT_EQ(app.main().pictureBox("Picture1").top(), -120);
    // A click gives the bar the keyboard; End takes it to the bottom.
    pointer("mousemove 1061 680 click 1 key End");
    EXPECT_EQ(bar.value(), bar.max());
    EXPECT_EQ(app.main().pictureBox("Picture1").top(), -bar.max());
}

TEST_F(MouseGui, ViewerMovesOnItsOwn) {
    app.main().textBox("Text1").setText("about:blank");
    app.road().openCommand();
    auto* view = app.road().viewer().current();
    ASSERT_NE(view, nullptr);
    app.settle(300);
    const auto main = position(app.main());
    const auto start = position(view->window());
    EXPECT_EQ(start, (std::pair<int, int>{325, 196}));
    // Its title strip below its title text, 200 px in.
    pointer("mousemove 525 216 mousedown 1 mousemove 540 230 mousemove 575 266 mouseup 1");
    const auto moved = position(view->window());
    EXPECT_EQ(moved.first - start.first, 50);
    EXPECT_EQ(moved.second - start.second, 50);
    EXPECT_EQ(position(app.main()), main);
}

}  // namespace
