// Measuring, enlarging, capturing and panning, against the fakes.
#include <gtest/gtest.h>

#include "tests/fakes/FakeApp.h"

namespace {

// Picture2 is 729 x 489 px with a 2-px border: 725 x 485 inside.
constexpr int kViewW = 725, kViewH = 485;

TEST(Capture, PhotoSizesPictureToThePageAndSetsTheScrollRanges) {
    fakes::FakeApp a;
    a.browser().holdPage(1280, 12000, 0x123456);
    a.type("http://a.example/");
    a.clickOpen();
    a.clickPhoto();

    EXPECT_EQ(a.picture1().scaleWidth(), 1280);  // the drawing area is the whole page
    EXPECT_EQ(a.picture1().scaleHeight(), 12000);
    EXPECT_EQ(a.picture1().clears, 2);            // emptied before each paint (open, photo)
    EXPECT_TRUE(a.picture1().autoRedraw());
    EXPECT_TRUE(a.picture1().visible());
    EXPECT_EQ(a.picture1().image().at(1279, 11999), 0x123456u);
    EXPECT_EQ(a.vscroll().max(), 12000 - kViewH);
    EXPECT_EQ(a.hscroll().max(), 1280 - kViewW);
    EXPECT_TRUE(a.vscroll().enabled());
    EXPECT_TRUE(a.hscroll().enabled());

    // Painted at the corner at the page's size; parked, unfolded and viewer closed after.
    EXPECT_EQ(a.browser().printedLeft, 0);
    EXPECT_EQ(a.browser().printedTop, 0);
    EXPECT_EQ(a.browser().printedWidth, 1280 * 15);
    EXPECT_EQ(a.browser().printedHeight, 12000 * 15);
    EXPECT_EQ(a.browser().left(), 960);
    EXPECT_EQ(a.browser().top(), -20000);
    EXPECT_EQ(a.browser().width(), 15360);
    EXPECT_EQ(a.main().height(), 8430);
    EXPECT_EQ(a.view(), nullptr);
}

TEST(Capture, MeasureAddsBodyMarginsAndBordersToTheBodysScrollSize) {
    fakes::FakeApp a;
    platform::BodyMetrics m;
    m.scrollWidth = 2000, m.rootScrollWidth = 2016, m.offsetWidth = 2004, m.clientWidth = 2000;
    m.scrollHeight = 3000, m.rootScrollHeight = 2900, m.offsetHeight = 3002, m.clientHeight = 3000;
    a.browser().body = m;
    a.browser().pageColour = 0xffffff;
    a.clickPhoto();
    EXPECT_EQ(a.picture1().scaleWidth(), 2016);      // the root's, margins included
    EXPECT_EQ(a.picture1().scaleHeight(), 3000 + 2);  // the body's, with its border
}

TEST(Capture, BarsAreEnabledOnlyForAPositiveRangeAndNeverDisabled) {
    fakes::FakeApp a;
    a.browser().holdPage(kViewW + 1, kViewH + 1);  // exactly one pixel over
    a.clickPhoto();
    EXPECT_EQ(a.hscroll().max(), 1);
    EXPECT_EQ(a.vscroll().max(), 1);
    EXPECT_TRUE(a.hscroll().enabled());
    EXPECT_TRUE(a.vscroll().enabled());

    fakes::FakeApp narrow;
    narrow.browser().holdPage(500, 300);
    narrow.clickPhoto();
    EXPECT_EQ(narrow.hscroll().max(), 500 - kViewW);
    EXPECT_FALSE(narrow.hscroll().enabled());
    EXPECT_FALSE(narrow.vscroll().enabled());

    // A bar an earlier, larger page enabled stays enabled.
    a.browser().holdPage(kViewW, 300);
    a.clickPhoto();
    EXPECT_EQ(a.hscroll().max(), 0);
    EXPECT_TRUE(a.hscroll().enabled());
    EXPECT_TRUE(a.vscroll().enabled());
}

TEST(Capture, PhotoOfAPageBeyondTheScrollRangeReportsItAndParksTheBrowser) {
    fakes::FakeApp a;
    a.type("http://a.example/");
    a.clickOpen();
    const int oldMax = a.vscroll().max();
    a.browser().holdPage(1280, kViewH + 40000);
    a.clickPhoto();
    ASSERT_EQ(a.p.dialogs.warnings.size(), 1u);
    EXPECT_NE(a.p.dialogs.warnings[0].first.find(std::to_string(kViewH + 40000)), std::string::npos);
    EXPECT_NE(a.p.dialogs.warnings[0].first.find("1280"), std::string::npos);
    EXPECT_EQ(a.p.dialogs.warnings[0].second, "系统提示");
    // Picture1 was enlarged and emptied, no range changed, nothing painted.
    EXPECT_EQ(a.picture1().scaleHeight(), kViewH + 40000);
    EXPECT_EQ(a.vscroll().max(), oldMax);
    EXPECT_EQ(a.browser().prints, 0);
    EXPECT_EQ(a.browser().top(), -20000);
    EXPECT_EQ(a.browser().height(), 11520);
    // The window and the viewer stay as they were, so the user can try again.
    EXPECT_EQ(a.main().height(), 825);
    EXPECT_NE(a.view(), nullptr);
}

TEST(Capture, PhotoWithoutAPageSaysSo) {
    fakes::FakeApp a;
    a.clickPhoto();
    ASSERT_EQ(a.p.dialogs.warnings.size(), 1u);
    EXPECT_EQ(a.p.dialogs.warnings[0].first.rfind("拍照出错 ", 0), 0u);
    EXPECT_EQ(a.main().height(), 825);
    EXPECT_EQ(a.browser().left(), 960);
}

TEST(Capture, OpenTimeCaptureBeyondTheRangeEndsSilentlyBeforeTheRestore) {
    fakes::FakeApp a;
    a.browser().holdPage(1280, kViewH + 40000);
    a.type("http://a.example/");
    a.clickOpen();
    EXPECT_TRUE(a.p.dialogs.warnings.empty());
    EXPECT_EQ(a.browser().top(), 0);  // left where the failure found it
    // The next capture that runs to its end parks it again.
    a.browser().holdPage(1280, 2000);
    a.clickPhoto();
    EXPECT_EQ(a.browser().top(), -20000);
}

TEST(Capture, AnyScreenResolutionGivesThePageAtItsTrueSize) {
    fakes::FakeApp a({1280 * 12, 1024 * 12, 12, 12});  // 120 dpi
    a.browser().holdPage(1600, 5000);
    a.clickPhoto();
    EXPECT_EQ(a.picture1().scaleWidth(), 1600);
    EXPECT_EQ(a.picture1().scaleHeight(), 5000);
    EXPECT_EQ(a.browser().printedWidth, 1600 * 12);
}

TEST(Preview, PictureFollowsEachBarOnItsOwnAxis) {
    fakes::FakeApp a;
    a.browser().holdPage(3000, 9000);
    a.clickPhoto();
    for (int v : {1, 250, 5000, a.vscroll().max()}) {
        a.vscroll().setValue(v);  // as while a thumb is dragged
        EXPECT_EQ(a.picture1().top(), -v);
        EXPECT_EQ(a.picture1().left(), 0);
    }
    a.hscroll().setValue(700);
    EXPECT_EQ(a.picture1().left(), -700);
    EXPECT_EQ(a.picture1().top(), -a.vscroll().max());
}

TEST(Preview, NewSmallerRangeBringsValueAndPictureBack) {
    fakes::FakeApp a;
    a.browser().holdPage(3000, 9000);
    a.clickPhoto();
    a.vscroll().setValue(8000);
    a.hscroll().setValue(2000);
    a.browser().holdPage(1000, 2000);
    a.clickPhoto();
    EXPECT_EQ(a.vscroll().value(), 2000 - kViewH);
    EXPECT_EQ(a.picture1().top(), -(2000 - kViewH));
    EXPECT_EQ(a.picture1().left(), -(1000 - kViewW));

    // A page narrower than the viewport: the left-enabled bar runs between Max and 0.
    a.browser().holdPage(kViewW - 100, 2000);
    a.clickPhoto();
    EXPECT_EQ(a.hscroll().value(), 0);
    a.hscroll().setValue(-100);
    EXPECT_EQ(a.picture1().left(), 100);
}

TEST(Preview, WheelMovesOnlyEnabledBarsWithinTheirRange) {
    fakes::FakeApp a;
    a.picture2().wheel(0, 2);  // before any capture both bars are disabled
    EXPECT_EQ(a.vscroll().value(), 0);
    a.browser().holdPage(500, 3000);  // narrower than the viewport: HScroll1 stays disabled
    a.clickPhoto();
    a.picture1().wheel(0, 2);
    EXPECT_EQ(a.vscroll().value(), 120);
    EXPECT_EQ(a.picture1().top(), -120);
    a.picture2().wheel(3, -1);
    EXPECT_EQ(a.vscroll().value(), 60);
    EXPECT_EQ(a.hscroll().value(), 0);
    EXPECT_EQ(a.picture1().left(), 0);
    a.picture1().wheel(0, 1000);
    EXPECT_EQ(a.vscroll().value(), 3000 - kViewH);
    EXPECT_EQ(a.picture1().top(), -(3000 - kViewH));
}

TEST(Capture, PageTallerThanAPictureHoldsFailsLikeOneBeyondTheRange) {
    fakes::FakeApp a;
    a.browser().holdPage(100, 32767);  // the tallest picture there is
    a.clickPhoto();
    EXPECT_TRUE(a.p.dialogs.warnings.empty());
    a.vscroll().setValue(40000);
    EXPECT_EQ(a.vscroll().value(), 32767 - kViewH);
    EXPECT_EQ(a.picture1().top(), -(32767 - kViewH));

    // One more row still fits the scroll range, but no picture holds it.
    a.browser().holdPage(100, 32768);
    a.clickPhoto();
    ASSERT_EQ(a.p.dialogs.warnings.size(), 1u);
    EXPECT_NE(a.p.dialogs.warnings[0].first.find("32768"), std::string::npos);
    EXPECT_EQ(a.browser().top(), -20000);

    // Saving then has nothing to write, and says so.
    a.p.dialogs.nextName = "/tmp/never-written.bmp";
    a.clickSave();
    ASSERT_EQ(a.p.dialogs.warnings.size(), 2u);
    EXPECT_EQ(a.p.dialogs.warnings[1].first.rfind("保存出错 ", 0), 0u);
}

TEST(Capture, MeasuredPageThatTheEngineCannotPaintIsReported) {
    fakes::FakeApp a;
    a.browser().holdPage(1300, 2000);
    a.browser().pageColour.reset();
    a.clickPhoto();
    a.browser().pageColour = 0x123456;
    a.browser().paintThrows = true;  // out of memory, say
    a.clickPhoto();
    ASSERT_EQ(a.p.dialogs.warnings.size(), 2u);
    for (const auto& [text, title] : a.p.dialogs.warnings) {
        EXPECT_EQ(text.rfind("拍照出错 ", 0), 0u);
        EXPECT_EQ(title, "系统提示");
    }
    EXPECT_EQ(a.main().height(), 825);
    EXPECT_EQ(a.browser().top(), -20000);
}

}  // namespace
