// On a screen smaller than the preview, pages can be narrower or lower than the
// viewport: the test command runs these on a 640 x 400 screen of their own.
#include <gtest/gtest.h>

#include "tests/support/GuiHarness.h"

using support::GuiHarness;
using support::TempDir;
using support::writePage;

namespace {

class SmallScreenGui : public ::testing::Test {
protected:
    void SetUp() override {
        const auto s = app.ui.screen();
        if (s.widthTwips / s.twipsPerPixelX > 700) GTEST_SKIP() << "needs a screen narrower than the preview";
    }
    GuiHarness app;
    TempDir pages;
};

TEST_F(SmallScreenGui, PageSmallerThanTheViewportLeavesBothBarsDisabled) {
    ASSERT_TRUE(app.open(writePage(pages, "small.html", "<html><body style='margin:0'>small</body></html>")));
    app.road().photoCommand();
    EXPECT_TRUE(app.dialogs.warnings.empty());
    EXPECT_LT(app.main().scrollBar("HScroll1").max(), 0);
    EXPECT_LT(app.main().scrollBar("VScroll1").max(), 0);
    EXPECT_FALSE(app.main().scrollBar("HScroll1").enabled());
    EXPECT_FALSE(app.main().scrollBar("VScroll1").enabled());
    EXPECT_EQ(app.main().pictureBox("Picture1").scaleWidth(), 640);
    EXPECT_EQ(app.main().pictureBox("Picture1").scaleHeight(), 400);
}

TEST_F(SmallScreenGui, PageOnePixelLowerThanTheViewportGivesARangeOfOne) {
    const int viewport = app.main().pictureBox("Picture2").scaleHeight();
    ASSERT_TRUE(app.open(writePage(pages, "one.html",
                                   "<html><body style='margin:0'><div style='height:" + std::to_string(viewport + 1) +
                                       "px;background:#0f0'></div></body></html>")));
    app.road().photoCommand();
    EXPECT_EQ(app.main().scrollBar("VScroll1").max(), 1);
    EXPECT_TRUE(app.main().scrollBar("VScroll1").enabled());
    EXPECT_FALSE(app.main().scrollBar("HScroll1").enabled());
    app.main().scrollBar("VScroll1").setValue(1);
    EXPECT_EQ(app.main().pictureBox("Picture1").top(), -1);
}

}  // namespace
