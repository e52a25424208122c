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
    EXPECT_EQ(a.picture1().image()->at(1279, 11999), 0x123456u);
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

TEST(Capture, PageTooLargeForAnyPictureIsRefusedBeforeAnythingChanges) {
    fakes::FakeApp a;
    a.browser().holdPage(1280, 3000, 0x00ff00);
    a.type("http://a.example/");
    a.clickOpen();
    a.clickPhoto();
    const auto good = a.picture1().image();
    const int oldMax = a.vscroll().max();

    // Wider than the engine paints: the size and the reason in the message.
    a.browser().holdPage(40000, 2000);
    a.clickPhoto();
    ASSERT_EQ(a.p.dialogs.warnings.size(), 1u);
    EXPECT_EQ(a.p.dialogs.warnings[0].first,
              "拍照出错 网页太大（宽 40000 像素，高 2000 像素）：快照最宽 32767 像素，这个网页更宽。");
    EXPECT_EQ(a.p.dialogs.warnings[0].second, "系统提示");

    // More than the memory the system has: what it needs and what there is.
    a.road().capture().setMemoryProbe([] { return std::optional<std::uint64_t>(100u << 20); });
    a.browser().holdPage(1280, 200000);
    a.clickPhoto();
    ASSERT_EQ(a.p.dialogs.warnings.size(), 2u);
    EXPECT_EQ(a.p.dialogs.warnings[1].first,
              "拍照出错 网页太大（宽 1280 像素，高 200000 像素）：快照需要 977 MB 内存，系统现在只有 100 MB "
              "可用。请关闭其他程序后再试。");

    // Nothing was changed or painted: the last snapshot stays to be panned and saved.
    EXPECT_EQ(a.picture1().image(), good);
    EXPECT_EQ(a.picture1().scaleHeight(), 3000);
    EXPECT_EQ(a.vscroll().max(), oldMax);
    EXPECT_EQ(a.browser().prints, 2);  // the open's and the first photo's
    EXPECT_EQ(a.browser().top(), -20000);
    EXPECT_EQ(a.browser().height(), 11520);
}

TEST(Capture, PhotoWithoutAPageSaysSo) {
    fakes::FakeApp a;
    a.clickPhoto();
    ASSERT_EQ(a.p.dialogs.warnings.size(), 1u);
    EXPECT_EQ(a.p.dialogs.warnings[0].first.rfind("拍照出错 ", 0), 0u);
    EXPECT_EQ(a.main().height(), 825);
    EXPECT_EQ(a.browser().left(), 960);
}

TEST(Capture, OpenTimeCaptureOfAPageTooWideEndsSilently) {
    fakes::FakeApp a;
    a.browser().holdPage(40000, 2000);
    a.type("http://a.example/");
    a.clickOpen();
    EXPECT_TRUE(a.p.dialogs.warnings.empty());
    EXPECT_EQ(a.browser().top(), -20000);  // refused before it was moved
    EXPECT_EQ(a.browser().prints, 0);
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

TEST(Capture, PageOfAnyHeightIsPhotographedAndPannedInWholeUnits) {
    fakes::FakeApp a;
    a.browser().holdPage(100, 100000, 0x445566);
    a.clickPhoto();
    ASSERT_TRUE(a.p.dialogs.warnings.empty());
    EXPECT_EQ(a.picture1().image()->height(), 100000);
    EXPECT_EQ(a.picture1().image()->at(99, 99999), 0x445566u);
    // 99515 px overhang and the 2 px border: four pixels a unit.
    const int range = 100000 - kViewH;
    EXPECT_EQ(a.vscroll().max(), (range + 2 + 3) / 4);
    EXPECT_TRUE(a.vscroll().enabled());
    for (int v : {1, 777, 12345}) {
        a.vscroll().setValue(v);
        EXPECT_EQ(a.picture1().top(), -4 * v);
    }
    // The first row at the top, the last row in view at the bottom.
    a.vscroll().setValue(0);
    EXPECT_EQ(a.picture1().top() + 2, 2);
    a.vscroll().setValue(a.vscroll().max());
    const int lastRowAt = a.picture1().top() + 2 + 99999;
    EXPECT_GE(lastRowAt, 0);
    EXPECT_LT(lastRowAt, kViewH);
    // Wheel and arrows move the picture by about the same distance as on a short page.
    a.vscroll().setValue(100);
    a.main().pictureBox("Picture2").wheel(0, 1);
    EXPECT_EQ(a.picture1().top(), -4 * 100 - 60);
    a.vscroll().arrow(1);
    EXPECT_NEAR(a.picture1().top(), -4 * 100 - 60 - 10, 2);
    a.p.dialogs.nextName.reset();

    // Back to a page within the range: one pixel a unit again, Picture1 follows at once.
    a.browser().holdPage(100, 10000);
    a.clickPhoto();
    EXPECT_EQ(a.vscroll().max(), 10000 - kViewH);
    EXPECT_EQ(a.picture1().top(), -a.vscroll().value());
    EXPECT_EQ(a.vscroll().smallChange, 10);
}

TEST(Preview, ScaleIsOnePixelWithinTheRangeAndTheSmallestWholeUnitBeyond) {
    EXPECT_EQ(snapshot::scrollScale(0, 2)->max, 0);
    EXPECT_EQ(snapshot::scrollScale(-300, 2)->max, -300);
    EXPECT_EQ(snapshot::scrollScale(32767, 2)->unit, 1);
    EXPECT_EQ(snapshot::scrollScale(32767, 2)->max, 32767);
    EXPECT_EQ(snapshot::scrollScale(32768, 2)->unit, 2);
    EXPECT_EQ(snapshot::scrollScale(32768, 2)->max, 16385);
    for (long range : {32768L, 65533L, 65534L, 99515L, 250000L, 1000000L, 5000000L}) {
        const auto s = snapshot::scrollScale(range, 2);
        ASSERT_TRUE(s);
        EXPECT_LE(s->max, 32767) << range;
        EXPECT_GE(long{s->max} * s->unit, range + 2) << range;             // the last rows reachable
        EXPECT_LT(long{s->max - 1} * s->unit, range + 2) << range;         // no step wasted
        if (s->unit > 1) {  // none smaller would do
            EXPECT_GT((range + 2 + s->unit - 2) / (s->unit - 1), 32767) << range;
        }
    }
    EXPECT_FALSE(snapshot::scrollScale(-40000, 2));
}

TEST(Capture, SnapshotTooLargeForABitmapIsRefusedBeforeANameIsAsked) {
    fakes::FakeApp a;
    a.browser().holdPage(100, 100);
    a.clickPhoto();
    // 32000 x 50000 px would make a 4.8 GB bitmap; the picture holds no rows of its own.
    a.picture1().setImage(std::make_shared<capture::Image>(32000, 50000, 0xffffff));
    a.p.dialogs.nextName = "/tmp/never-written.bmp";
    a.clickSave();
    EXPECT_TRUE(a.p.dialogs.requests.empty());
    ASSERT_EQ(a.p.dialogs.warnings.size(), 1u);
    EXPECT_EQ(a.p.dialogs.warnings[0].first,
              "保存出错 网页太大（宽 32000 像素，高 50000 像素）：BMP 文件最大 4 GB，这张快照需要 4578 MB。");
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
