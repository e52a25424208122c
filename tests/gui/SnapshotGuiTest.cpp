// The whole road on the real engine: open a local page, photograph it, save it,
// and check the bitmap's size and colours across the whole page.
#include <gtest/gtest.h>
#include <sys/fsuid.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "tests/support/GuiHarness.h"

using support::Bitmap;
using support::GuiHarness;
using support::TempDir;
using support::writePage;

namespace {

std::string blocksPage(int blocks, int blockHeight, int width, const std::vector<std::string>& colours) {
    std::string html = "<!doctype html><html><body style='margin:0'>";
    for (int i = 0; i < blocks; ++i)
        html += "<div style='width:" + std::to_string(width) + "px;height:" + std::to_string(blockHeight) +
                "px;background:" + colours[i % colours.size()] + "'></div>";
    return html + "</body></html>";
}

const std::vector<std::string> kColours = {"#ff0000", "#00ff00", "#0000ff", "#ffff00", "#00ffff", "#ff00ff"};
const std::vector<std::uint32_t> kPixels = {0xff0000, 0x00ff00, 0x0000ff, 0xffff00, 0x00ffff, 0xff00ff};

class SnapshotGui : public ::testing::Test {
protected:
    std::optional<Bitmap> photoAndSave(const std::string& name) { return app.photoAndSave(files.path(name)); }
    int viewportWidth() { return static_cast<int>(app.ui.screen().widthTwips / app.ui.screen().twipsPerPixelX); }
    int viewportHeight() { return static_cast<int>(app.ui.screen().heightTwips / app.ui.screen().twipsPerPixelY); }

    TempDir pages, files;
    GuiHarness app;
};

TEST_F(SnapshotGui, TallPageIsPhotographedWholeAndSavedAsBitmap) {
    ASSERT_TRUE(app.open(writePage(pages, "tall.html", blocksPage(12, 1000, 1200, kColours))));
    auto bmp = photoAndSave("tall.jpg");
    ASSERT_TRUE(bmp);
    EXPECT_TRUE(app.dialogs.warnings.empty());

    auto& picture1 = app.main().pictureBox("Picture1");
    EXPECT_EQ(bmp->width, picture1.scaleWidth());
    EXPECT_EQ(bmp->height, picture1.scaleHeight());
    EXPECT_EQ(bmp->height, 12000);
    EXPECT_GE(bmp->width, 1200);

    for (int i = 0; i < 12; ++i) {
        for (int x : {0, 600, 1199}) {
            EXPECT_EQ(bmp->pixel(x, i * 1000 + 500), kPixels[i % 6]) << "block " << i << " x " << x;
        }
        EXPECT_EQ(bmp->pixel(600, i * 1000), kPixels[i % 6]) << "top row of block " << i;
    }
    EXPECT_EQ(bmp->pixel(600, 11999), kPixels[11 % 6]);
    if (bmp->width > 1200) { EXPECT_EQ(bmp->pixel(bmp->width - 1, 500), 0xffffffu); }

    // The window unfolded, the browser is parked again, and the viewer is gone.
    EXPECT_EQ(app.main().height(), 8430);
    const auto& parked = app.road().capture().parking();
    EXPECT_EQ(app.main().browser("WebBrowser1").top(), parked.top);
    EXPECT_EQ(app.main().browser("WebBrowser1").height(), parked.height);
    EXPECT_EQ(app.road().viewer().current(), nullptr);
    EXPECT_TRUE(picture1.visible());
    EXPECT_TRUE(app.main().scrollBar("VScroll1").enabled());
    EXPECT_EQ(app.main().scrollBar("VScroll1").max(), 12000 - app.main().pictureBox("Picture2").scaleHeight());
}

TEST_F(SnapshotGui, ViewportHighHeroDoesNotPushTheRestOutOfThePicture) {
    const std::string html =
        "<!doctype html><html><body style='margin:0'>"
        "<div style='height:100vh;background:#ff0000'></div>"
        "<div style='height:3000px;background:#00ff00'></div>"
        "<div style='height:100px;background:#0000ff'></div></body></html>";
    ASSERT_TRUE(app.open(writePage(pages, "hero.html", html)));
    auto bmp = photoAndSave("hero.bmp");
    ASSERT_TRUE(bmp);
    const int hero = viewportHeight();
    EXPECT_EQ(bmp->height, hero + 3100);
    EXPECT_EQ(bmp->pixel(100, 10), 0xff0000u);
    EXPECT_EQ(bmp->pixel(100, hero - 1), 0xff0000u);
    EXPECT_EQ(bmp->pixel(100, hero + 1500), 0x00ff00u);
    EXPECT_EQ(bmp->pixel(100, bmp->height - 1), 0x0000ffu);
}

TEST_F(SnapshotGui, BodyMarginsAreInThePicture) {
    const std::string html =
        "<!doctype html><html><body><div style='width:2000px;height:3000px;background:#2080c0'></div></body></html>";
    ASSERT_TRUE(app.open(writePage(pages, "margins.html", html)));
    auto bmp = photoAndSave("margins");
    ASSERT_TRUE(bmp);
    // The body alone measures 2000 x 3000: its margins come from the root element.
    // Sideways the engine scrolls to the content's edge, downwards past the bottom margin.
    EXPECT_EQ(bmp->width, 2008);
    EXPECT_EQ(bmp->height, 3016);
    EXPECT_EQ(bmp->pixel(8, 8), 0x2080c0u);
    EXPECT_EQ(bmp->pixel(2007, 3007), 0x2080c0u);  // the last column and row of the content
    EXPECT_EQ(bmp->pixel(2007, 3015), 0xffffffu);  // the bottom margin
    EXPECT_EQ(bmp->pixel(3, 3), 0xffffffu);
}

TEST_F(SnapshotGui, QuirksModePagesAreMeasuredToTheirContent) {
    // No doctype: the body is the viewport, and its client size is the viewport's.
    ASSERT_TRUE(app.open(writePage(pages, "quirks.html",
                                   "<html><body style='margin:0'><div style='width:1000px;height:5000px;"
                                   "background:#00ffff'></div></body></html>")));
    auto tall = photoAndSave("quirks.bmp");
    ASSERT_TRUE(tall);
    EXPECT_EQ(tall->height, 5000);
    EXPECT_EQ(tall->pixel(10, 4999), 0x00ffffu);

    ASSERT_TRUE(app.open(writePage(pages, "short.html",
                                   "<html><body style='margin:0'><div style='height:300px;background:#ff00ff'>"
                                   "</div></body></html>")));
    auto low = photoAndSave("short.bmp");
    ASSERT_TRUE(low);
    EXPECT_EQ(low->height, viewportHeight());
    EXPECT_EQ(low->pixel(10, 299), 0xff00ffu);
    EXPECT_EQ(low->pixel(10, 300), 0xffffffu);
}

TEST_F(SnapshotGui, PageFromTheNetworkIsPaintedWithItsImages) {
    support::HttpServer server;
    server.serve("/dot.svg",
                 "<svg xmlns='http://www.w3.org/2000/svg' width='400' height='300'>"
                 "<rect width='400' height='300' fill='#ff8000'/></svg>");
    server.serve("/lazy.svg",
                 "<svg xmlns='http://www.w3.org/2000/svg' width='400' height='300'>"
                 "<rect width='400' height='300' fill='#8000ff'/></svg>");
    server.serve("/page.html",
                 "<!doctype html><html><body style='margin:0'>"
                 "<div style='position:fixed;top:0;left:0;width:100%;height:40px;background:#102030'></div>"
                 "<div style='height:7000px;background:#e0e0e0'></div><img src='/dot.svg' style='display:block'>"
                 "<img src='/lazy.svg' loading='lazy' style='display:block'>"
                 "<div style='height:200px;background:#e0e0e0'></div></body></html>");
    ASSERT_TRUE(app.open(server.url("/page.html")));
    auto bmp = photoAndSave("net.bmp");
    ASSERT_TRUE(bmp);
    EXPECT_EQ(bmp->height, 7800);
    EXPECT_EQ(bmp->pixel(200, 7150), 0xff8000u);  // the image, far below the first screen
    EXPECT_EQ(bmp->pixel(200, 7450), 0x8000ffu);  // one the page would load only when scrolled to
    EXPECT_EQ(bmp->pixel(600, 7150), 0xffffffu);  // the body beside it
    EXPECT_EQ(bmp->pixel(10, 20), 0x102030u);    // the fixed bar, once, at the top
    EXPECT_EQ(bmp->pixel(10, 5020), 0xe0e0e0u);
}

TEST_F(SnapshotGui, PageDialogsNobodyCanSeeDoNotHoldTheCaptureBrowser) {
    // The capture browser answers at once: the alert goes, the question is answered no.
    const std::string html =
        "<!doctype html><html><body style='margin:0'><div id='d' style='height:2000px'></div><script>"
        "alert('hello'); document.getElementById('d').style.background = confirm('red?') ? '#ff0000' : '#00ff00';"
        "</script></body></html>";
    const int before = app.captureBrowserPages;
    app.main().textBox("Text1").setText(writePage(pages, "dialogs.html", html));
    app.road().openCommand();
    ASSERT_TRUE(app.waitFor([&] { return app.captureBrowserPages > before; }, 10000));
    app.road().photoCommand();
    EXPECT_TRUE(app.dialogs.warnings.empty());
    app.dialogs.nextName = files.path("dialogs.bmp");
    app.road().saveCommand();
    auto bmp = Bitmap::read(files.path("dialogs.bmp"));
    ASSERT_TRUE(bmp);
    EXPECT_EQ(bmp->height, 2000);
    EXPECT_EQ(bmp->pixel(10, 1990), 0x00ff00u);
}

TEST_F(SnapshotGui, SecondPhotoReplacesTheFirst) {
    ASSERT_TRUE(app.open(writePage(pages, "red.html", blocksPage(2, 1500, 1500, {"#ff0000"}))));
    auto first = photoAndSave("first.bmp");
    ASSERT_TRUE(first);
    EXPECT_EQ(first->pixel(700, 2000), 0xff0000u);

    ASSERT_TRUE(app.open(writePage(pages, "blue.html", blocksPage(1, 2500, 1400, {"#0000ff"}))));
    EXPECT_EQ(app.main().height(), 825);  // opening folds the window again
    auto second = photoAndSave("second.bmp");
    ASSERT_TRUE(second);
    EXPECT_EQ(second->height, 2500);
    EXPECT_EQ(second->pixel(700, 2000), 0x0000ffu);

    // A photo with no viewer open still unfolds the window and parks the browser.
    app.road().photoCommand();
    EXPECT_EQ(app.main().height(), 8430);
    EXPECT_EQ(app.main().browser("WebBrowser1").left(), app.road().capture().parking().left);
    EXPECT_TRUE(app.dialogs.warnings.empty());
}

TEST_F(SnapshotGui, PageWiderThanAnyPictureFailsCleanly) {
    ASSERT_TRUE(app.open(writePage(pages, "huge.html", blocksPage(2, 1000, 40000, kColours))));
    app.road().photoCommand();
    ASSERT_EQ(app.dialogs.warnings.size(), 1u);
    EXPECT_NE(app.dialogs.warnings[0].first.find("宽 40000 像素，高 2000 像素"), std::string::npos);
    EXPECT_EQ(app.dialogs.warnings[0].second, "系统提示");
    const auto& parked = app.road().capture().parking();
    EXPECT_EQ(app.main().browser("WebBrowser1").top(), parked.top);
    EXPECT_EQ(app.main().browser("WebBrowser1").width(), parked.width);

    // The program goes on: the next page is photographed as usual.
    ASSERT_TRUE(app.open(writePage(pages, "small.html", blocksPage(1, 2000, 1300, {"#00ff00"}))));
    auto bmp = photoAndSave("after.bmp");
    ASSERT_TRUE(bmp);
    EXPECT_EQ(bmp->height, 2000);
    EXPECT_EQ(bmp->pixel(10, 1999), 0x00ff00u);
}

TEST_F(SnapshotGui, SavingOverAnExistingFileReplacesItWhole) {
    ASSERT_TRUE(app.open(writePage(pages, "page.html", blocksPage(1, 1800, 1300, {"#ffff00"}))));
    std::ofstream(files.path("old.jpg")) << "an older picture";
    auto bmp = photoAndSave("old.jpg");
    ASSERT_TRUE(bmp);
    EXPECT_EQ(bmp->pixel(5, 5), 0xffff00u);
    EXPECT_EQ(files.entries(), std::vector<std::string>{"old.jpg"});  // no temporary file left
}

TEST_F(SnapshotGui, SavingIntoAReadOnlyFolderKeepsTheOldFiles) {
    ASSERT_TRUE(app.open(writePage(pages, "page.html", blocksPage(1, 1800, 1300, {"#ffff00"}))));
    app.road().photoCommand();
    std::ofstream(files.path("old.jpg")) << "keep me";
    ::chmod(files.dir().c_str(), 0555);
    // The superuser writes anywhere: act as an ordinary user for the file system.
    const bool root = ::geteuid() == 0;
    if (root) ::setfsuid(65534);
    app.dialogs.nextName = files.path("old.jpg");
    app.road().saveCommand();
    if (root) ::setfsuid(0);
    ::chmod(files.dir().c_str(), 0755);

    ASSERT_EQ(app.dialogs.warnings.size(), 1u);
    EXPECT_EQ(app.dialogs.warnings[0].first.rfind("保存出错 ", 0), 0u);
    EXPECT_GT(app.dialogs.warnings[0].first.size(), std::string("保存出错 ").size());
    EXPECT_EQ(app.dialogs.warnings[0].second, "系统提示");
    std::ifstream in(files.path("old.jpg"));
    std::string content((std::istreambuf_iterator<char>(in)), {});
    EXPECT_EQ(content, "keep me");
    EXPECT_EQ(files.entries(), std::vector<std::string>{"old.jpg"});
}

}  // namespace

namespace {

std::vector<std::string> filesUnder(const std::string& dir) {
    std::vector<std::string> found;
    std::error_code ec;
    for (auto it = std::filesystem::recursive_directory_iterator(dir, ec);
         it != std::filesystem::recursive_directory_iterator(); it.increment(ec))
        if (it->is_regular_file()) found.push_back(it->path().string());
    return found;
}

// Runs in a process of its own (tests/gui/run-private), started with HOME and the XDG
// folders in an empty folder: GLib reads them once, before any test could change them.
TEST(PrivateGui, NothingButTheSnapshotIsWritten) {
    const char* home = std::getenv("VEMO_PRIVATE_HOME");
    ASSERT_NE(home, nullptr) << "run through tests/gui/run-private";
    ASSERT_STREQ(std::getenv("HOME"), home);
    TempDir pages, files;
    {
        GuiHarness app;
        ASSERT_TRUE(app.open(writePage(pages, "page.html",
                                       "<html><body><script>localStorage.x = 1; document.cookie = 'a=b';"
                                       "</script><div style='height:3000px;background:#0a0'></div></body></html>")));
        app.road().photoCommand();
        app.dialogs.nextName = files.path("snap.jpg");
        app.road().saveCommand();
        app.settle(300);
    }
    EXPECT_EQ(filesUnder(home), std::vector<std::string>{});
    EXPECT_EQ(files.entries(), std::vector<std::string>{"snap.jpg"});
}

// Run by tests/gui/run-private after the test above, in a process of its own: the
// program is ended as its user ends it, which ends the process at once; the script then
// looks for anything left in the home folder.
TEST(PrivateEnd, TheProgramEndsAsItsUserEndsIt) {
    const char* pages = std::getenv("VEMO_PRIVATE_PAGES");
    ASSERT_NE(pages, nullptr) << "run through tests/gui/run-private";
    const std::string page = std::string(pages) + "/page.html";
    std::ofstream(page) << "<html><body style='background:#0a0'>a page</body></html>";
    GuiHarness app;
    ASSERT_TRUE(app.open("file://" + page));
    app.road().photoCommand();
    app.ui.endProgram();
    ADD_FAILURE() << "the program went on after it was ended";
}

}  // namespace
