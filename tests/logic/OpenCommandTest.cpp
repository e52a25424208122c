// The open command, the capture browser's events and the viewer window.
#include <gtest/gtest.h>

#include "tests/fakes/FakeApp.h"

namespace {

const char* const kHint = "如果显示黑屏，请过10秒后再点拍照！";

TEST(OpenCommand, NoAddressWarnsButStillCapturesTheCurrentDocument) {
    fakes::FakeApp a;
    a.browser().holdPage(1300, 2000);
    a.main().setHeight(8430);
    a.type("http://");
    a.clickOpen();
    ASSERT_EQ(a.p.dialogs.warnings.size(), 1u);
    EXPECT_EQ(a.p.dialogs.warnings[0], (std::pair<std::string, std::string>{"请输入网址！", "Vemo提示"}));
    EXPECT_EQ(a.main().textBox("Text1").focusCount, 1);
    EXPECT_TRUE(a.browser().navigations.empty());
    EXPECT_EQ(a.main().height(), 8430);
    EXPECT_EQ(a.view(), nullptr);
    // The open-time capture ran on what the browser held, and parked it again.
    EXPECT_EQ(a.browser().prints, 1);
    EXPECT_TRUE(a.picture1().visible());
    EXPECT_EQ(a.browser().top(), -20000);
}

TEST(OpenCommand, AddressesAreNavigatedExactlyAsTyped) {
    for (const std::string address : {"HTTP://", "http:// ", " http://", "", "not an address", "http://a.example/"}) {
        fakes::FakeApp a;
        a.type(address);
        a.clickOpen();
        EXPECT_TRUE(a.p.dialogs.warnings.empty()) << address;
        EXPECT_EQ(a.browser().navigations, std::vector<std::string>{address});
        ASSERT_NE(a.view(), nullptr);
        EXPECT_EQ(a.view()->browser("voWeb").navigations, std::vector<std::string>{address});
        EXPECT_EQ(a.main().height(), 825);
    }
}

TEST(OpenCommand, EnterAndBothClicksAreTheSameCommand) {
    fakes::FakeApp a;
    a.type("http://one.example/");
    a.main().textBox("Text1").pressEnter();
    a.main().image("vo_open").handlers.fireClick();
    a.main().label("lab_open").handlers.fireClick();
    EXPECT_EQ(a.browser().navigations.size(), 3u);
    // One viewer, navigated three times.
    EXPECT_EQ(a.p.ui.windowsCreated("frmView"), 1);
    EXPECT_EQ(a.view()->browser("voWeb").navigations.size(), 3u);
}

TEST(OpenCommand, OpenTimeCaptureFailureIsSilentAndKeepsWhatWasDone) {
    fakes::FakeApp a;  // no document yet
    a.type("http://a.example/");
    a.clickOpen();
    EXPECT_TRUE(a.p.dialogs.warnings.empty());
    EXPECT_EQ(a.browser().prints, 0);
    EXPECT_FALSE(a.picture1().visible());
    EXPECT_NE(a.view(), nullptr);
}

TEST(OpenCommand, CaptureBrowserRefusesNewWindowsAndPumpsOnDownloadComplete) {
    fakes::FakeApp a;
    EXPECT_TRUE(a.browser().newWindowRefused());
    const int pumps = a.p.ui.pumps;
    a.browser().downloadComplete();
    EXPECT_EQ(a.p.ui.pumps, pumps + 1);
}

// Closed while its page loads, a viewer lives on until the events in hand are done: its
// page ending meanwhile touches no window (the main one may be gone by then).
TEST(Viewer, AClosedViewersPageEndingTouchesNothing) {
    fakes::FakeApp a;
    a.type("http://a.example/");
    a.clickOpen();
    auto* view = a.view();
    ASSERT_NE(view, nullptr);
    view->image("vo_exit").handlers.fireClick();
    view->browser("voWeb").completeDocument("http://a.example/");
    EXPECT_EQ(a.main().label("Label4").caption(), "Vemo不傻-专做生活中的贴身助手");
    a.p.ui.doEvents();
}

TEST(Viewer, ShowsTheHintOnEveryCompletedDocumentAndKeepsItUntilClosed) {
    fakes::FakeApp a;
    a.type("http://a.example/");
    a.clickOpen();
    auto* view = a.view();
    ASSERT_NE(view, nullptr);
    EXPECT_TRUE(view->visible());
    EXPECT_EQ(view->left(), 4875);
    EXPECT_EQ(view->top(), 2940);
    EXPECT_EQ(view->picture(), a.main().picture());  // the main window's title strip
    EXPECT_EQ(view->label("Label3").caption(), "网页预览--网页加载");
    EXPECT_EQ(a.main().label("Label4").caption(), "Vemo不傻-专做生活中的贴身助手");

    view->browser("voWeb").completeDocument("http://a.example/frame");
    view->browser("voWeb").completeDocument("http://a.example/");
    EXPECT_EQ(view->label("Label3").caption(), kHint);
    EXPECT_EQ(a.main().label("Label4").caption(), kHint);

    // A second open keeps the viewer and its hint.
    a.clickOpen();
    EXPECT_EQ(a.view(), view);
    EXPECT_EQ(view->label("Label3").caption(), kHint);

    // Its close spot destroys it; the next open makes a fresh one, the slogan stays replaced.
    view->image("vo_exit").handlers.fireClick();
    EXPECT_EQ(a.view(), nullptr);
    a.p.ui.doEvents();
    a.clickOpen();
    ASSERT_NE(a.view(), nullptr);
    EXPECT_EQ(a.p.ui.windowsCreated("frmView"), 2);
    EXPECT_EQ(a.view()->label("Label3").caption(), "网页预览--网页加载");
    EXPECT_EQ(a.main().label("Label4").caption(), kHint);
    EXPECT_EQ(a.main().height(), 825);
}

TEST(Viewer, ClosedBeforeAnyDocumentLeavesTheSlogan) {
    fakes::FakeApp a;
    a.type("http://a.example/");
    a.clickOpen();
    a.view()->requestClose();
    EXPECT_EQ(a.view(), nullptr);
    EXPECT_EQ(a.main().label("Label4").caption(), "Vemo不傻-专做生活中的贴身助手");
}

}  // namespace
