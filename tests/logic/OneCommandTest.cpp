// Impatient users and pages that fail: one command at a time, the newest page or a
// reason why not, and the last good snapshot kept whatever goes wrong.
#include <gtest/gtest.h>

#include "tests/fakes/FakeApp.h"

namespace {

const std::string kTitle = "系统提示";

struct Hostile : ::testing::Test {
    Hostile() {
        a.browser().holdPage(1000, 3000, 0x00ff00);
        a.type("http://good.example/");
        a.clickOpen();
        a.clickPhoto();
        good = a.picture1().image();
        a.p.dialogs.warnings.clear();
    }
    // The last good snapshot is still the one shown and saved, with its ranges.
    void expectGoodSnapshotKept() {
        EXPECT_EQ(a.picture1().image(), good);
        EXPECT_EQ(a.picture1().scaleHeight(), 3000);
        EXPECT_EQ(a.vscroll().max(), 3000 - 485);
        EXPECT_EQ(a.browser().top(), -20000);
    }
    std::string photoMessage() {
        a.p.dialogs.warnings.clear();
        a.clickPhoto();
        EXPECT_EQ(a.p.dialogs.warnings.size(), 1u);
        if (a.p.dialogs.warnings.empty()) return {};
        EXPECT_EQ(a.p.dialogs.warnings[0].second, kTitle);
        return a.p.dialogs.warnings[0].first;
    }
    fakes::FakeApp a;
    std::shared_ptr<const capture::Image> good;
};

TEST_F(Hostile, CommandsStartedWhileOneRunsAreIgnoredAndTheProgramShowsItIsBusy) {
    int inner = 0;
    a.browser().duringMeasure = [&] {
        if (inner++) return;
        EXPECT_TRUE(a.p.ui.busy);
        a.clickPhoto();
        a.p.dialogs.nextName = "/tmp/never.bmp";
        a.clickSave();
        a.clickOpen();
        platform::DropData d;
        d.hasText = true;
        d.text = "http://dropped.example/";
        a.picture1().drop(d);
    };
    a.p.ui.busyChanges.clear();
    const int prints = a.browser().prints;
    const auto navigations = a.browser().navigations.size();
    a.clickPhoto();
    EXPECT_EQ(inner, 1);  // one measurement: the inner photo never started
    EXPECT_EQ(a.browser().prints, prints + 1);
    EXPECT_TRUE(a.p.dialogs.requests.empty());  // the inner save asked for no name
    EXPECT_EQ(a.browser().navigations.size(), navigations);
    EXPECT_TRUE(a.p.dialogs.warnings.empty());
    EXPECT_EQ(a.p.ui.busyChanges, (std::vector<bool>{true, false}));
    EXPECT_FALSE(a.p.ui.busy);
    // Afterwards commands run again.
    a.browser().duringMeasure = nullptr;
    a.clickPhoto();
    EXPECT_EQ(a.browser().prints, prints + 2);
}

TEST_F(Hostile, APageStillOpeningOrNotOpenedIsSaidAndTheLastSnapshotKept) {
    a.browser().state = {platform::LoadState::Opening, {}};
    EXPECT_EQ(photoMessage(), "拍照出错 网页还在打开，还没有内容可拍：请等网页在查看窗口里显示出来后再点拍照。");
    expectGoodSnapshotKept();
    a.browser().state = {platform::LoadState::Failed, {engine::LoadError::ConnectionRefused, "Connection refused"}};
    EXPECT_EQ(photoMessage(), "拍照出错 网页没能打开（服务器拒绝了连接）：请检查网址和网络后重新打开。");
    expectGoodSnapshotKept();
    a.browser().state = {platform::LoadState::Failed, {engine::LoadError::Refused, "25"}};
    EXPECT_EQ(photoMessage(), "拍照出错 网页没能打开（浏览器不连接 25 端口，它是留给其他服务的）：请检查网址和网络后重新打开。");
    a.browser().state = {platform::LoadState::Failed, {engine::LoadError::NeverSettles, "11"}};
    EXPECT_EQ(photoMessage(), "拍照出错 网页没能打开（网页不停地自己跳转到别的地址）：请检查网址和网络后重新打开。");
    a.browser().state = {platform::LoadState::Crashed, {}};
    EXPECT_EQ(photoMessage(), "拍照出错 显示网页的进程意外退出了：请重新打开网址后再拍照。");
    expectGoodSnapshotKept();
    EXPECT_EQ(a.browser().prints, 2);  // nothing was painted for any of them
}

TEST_F(Hostile, AHungPageAndAFailedPaintAreSaidAndTheLastSnapshotKept) {
    a.browser().hung = true;
    EXPECT_EQ(photoMessage(), "拍照出错 网页没有响应：它的脚本可能陷入了死循环，已被停止。请重新打开网址后再拍照。");
    expectGoodSnapshotKept();
    a.browser().hung = false;
    a.browser().holdPage(1000, 5000);
    a.browser().pageColour.reset();
    a.browser().failure = "Snapshot failed";
    EXPECT_EQ(photoMessage(), "拍照出错 网页没能画出来（Snapshot failed）：请过一会儿再点拍照。");
    expectGoodSnapshotKept();
    a.browser().paintThrows = true;  // no memory for the picture
    EXPECT_EQ(photoMessage(), "拍照出错 内存不足：网页的快照放不进系统现有的内存。请关闭其他程序后再试。");
    expectGoodSnapshotKept();
    // The kept snapshot is what a save writes.
    a.browser().paintThrows = false;
    EXPECT_EQ(a.main().height(), 8430);
}

TEST(NoSnapshot, SaveSaysSoBeforeAskingForAName) {
    fakes::FakeApp a;
    a.p.dialogs.nextName = "/tmp/never-written.bmp";
    a.clickSave();
    EXPECT_TRUE(a.p.dialogs.requests.empty());
    ASSERT_EQ(a.p.dialogs.warnings.size(), 1u);
    EXPECT_EQ(a.p.dialogs.warnings[0].first, "保存出错 没有可保存的快照：请先打开网址并拍照。");
    EXPECT_EQ(a.p.dialogs.warnings[0].second, "系统提示");
    // A photo that fails makes none either.
    a.browser().body.reset();
    a.clickPhoto();
    a.clickSave();
    EXPECT_TRUE(a.p.dialogs.requests.empty());
}

}  // namespace
