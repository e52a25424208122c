// Hostile pages and impatient users on the real engine, pages served over loopback:
// the program stays usable and never saves a wrong picture.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "platform/gtk/GtkControls.h"
#include "platform/gtk/GtkPlatform.h"
#include "engine/PagePainter.h"
#include "resources/Designs.h"
#include "tests/support/GuiHarness.h"

using support::GuiHarness;
using support::HttpServer;
using support::TempDir;

namespace {

const std::string kGreen = "<!doctype html><body style='margin:0;background:#00ff00'><div style='height:2000px'></div>";

// Runs `f` once, `ms` milliseconds from now, from the main loop: in the middle of
// whatever the program then waits for.
void later(int ms, std::function<void()> f) {
    g_timeout_add(ms, [](gpointer data) -> gboolean {
        std::unique_ptr<std::function<void()>> fn(static_cast<std::function<void()>*>(data));
        (*fn)();
        return G_SOURCE_REMOVE;
    }, new std::function<void()>(std::move(f)));
}

// The web processes this program started: children, at any depth, of this process.
std::vector<int> ownWebProcesses() {
    auto parentOf = [](const std::string& pid) {
        std::ifstream stat("/proc/" + pid + "/stat");
        std::string all((std::istreambuf_iterator<char>(stat)), {});
        const auto close = all.rfind(')');
        return close == std::string::npos ? std::string() : all.substr(close + 4, all.find(' ', close + 4) - close - 4);
    };
    const std::string self = std::to_string(::getpid());
    std::vector<int> found;
    for (const auto& e : std::filesystem::directory_iterator("/proc")) {
        const auto pid = e.path().filename().string();
        std::ifstream comm(e.path() / "comm");
        std::string name;
        if (!std::getline(comm, name) || name.rfind("WebKitWebProces", 0) != 0) continue;  // 15 characters kept
        std::string p = pid;
        for (int depth = 0; depth < 6 && !p.empty() && p != "1" && p != self; ++depth) p = parentOf(p);
        if (p == self) found.push_back(std::stoi(pid));
    }
    return found;
}

class HostileGui : public ::testing::Test {
protected:
    // Opens a page and waits until the capture browser has it.
    bool openPage(const std::string& url) { return app.open(url, 20000); }
    void openWithoutWaiting(const std::string& url) {
        app.main().textBox("Text1").setText(url);
        app.road().openCommand();
    }
    platform::IBrowser& capture() { return app.main().browser("WebBrowser1"); }
    // Waits until the capture browser's newest page has come to `kind`.
    bool waitForState(platform::LoadState::Kind kind) {
        return app.waitFor([&] { return capture().loadState().kind == kind; }, 20000);
    }
    // Evaluates in the capture browser's page; nothing when it does not answer at once.
    std::optional<std::string> ask(const std::string& js, int ms = 2000) {
        auto* view = dynamic_cast<platform::gtk::GtkBrowser&>(capture()).view();
        return engine::PagePainter(view).evaluate(js, ms);
    }
    std::string photoMessage() {
        app.dialogs.warnings.clear();
        app.road().photoCommand();
        return app.dialogs.warnings.empty() ? std::string() : app.dialogs.warnings[0].first;
    }
    void photographGreen() {
        server.serve("/green", kGreen);
        ASSERT_TRUE(openPage(server.url("/green")));
        EXPECT_EQ(photoMessage(), "");
        good = app.main().pictureBox("Picture1").image();
        ASSERT_EQ(good->at(10, 10), 0x00ff00u);
    }
    // The last good page is still what the preview shows (the open's own capture of the
    // page before may have painted it anew).
    void expectGoodKept() {
        const auto now = app.main().pictureBox("Picture1").image();
        EXPECT_EQ(now->height(), good->height());
        EXPECT_EQ(now->at(10, 10), good->at(10, 10));
    }
    HttpServer server;
    TempDir files;
    GuiHarness app;
    std::shared_ptr<const capture::Image> good;
};

TEST_F(HostileGui, PrintingOnATimerNeverBlocksTheProgram) {
    server.serve("/print", kGreen + "<script>window.tries = 0; setInterval(function () { ++window.tries; window.print(); }, 150);"
                                    "</script>");
    ASSERT_TRUE(openPage(server.url("/print")));
    ASSERT_TRUE(app.waitFor([&] { return std::atoi(ask("String(window.tries)").value_or("0").c_str()) >= 5; }, 20000));
    // No print dialog came up in any window, and the commands answer.
    GList* windows = gtk_window_list_toplevels();
    for (GList* w = windows; w; w = w->next) EXPECT_FALSE(gtk_window_get_modal(GTK_WINDOW(w->data))) << G_OBJECT_TYPE_NAME(w->data);
    g_list_free(windows);
    EXPECT_EQ(photoMessage(), "");
    EXPECT_EQ(app.main().pictureBox("Picture1").image()->at(10, 10), 0x00ff00u);
}

TEST_F(HostileGui, AnAlertLoopShowsTheUserAFewDialogsAndNoMore) {
    server.serve("/alerts", kGreen + "<script>window.asked = 0; addEventListener('load', function () {"
                                     "setInterval(function () { ++window.asked; alert('again'); }, 50); });</script>");
    openWithoutWaiting(server.url("/alerts"));
    // Stands in for the user, who closes each dialog the viewer shows.
    int shown = 0;
    auto* view = dynamic_cast<platform::gtk::GtkBrowser&>(app.road().viewer().current()->voWeb()).view();
    g_signal_connect(view, "script-dialog", G_CALLBACK(+[](WebKitWebView*, WebKitScriptDialog*, gpointer n) -> gboolean {
                         ++*static_cast<int*>(n);
                         return TRUE;
                     }), &shown);
    // However many the page asks for.
    auto asked = [&] {
        return std::atoi(engine::PagePainter(view).evaluate("String(window.asked)", 2000).value_or("0").c_str());
    };
    ASSERT_TRUE(app.waitFor([&] { return asked() >= 20; }, 20000));
    EXPECT_EQ(shown, 3);
    EXPECT_EQ(photoMessage(), "");  // the capture browser answered its own at once
}

TEST_F(HostileGui, APageThatNeverYieldsIsStoppedAndTheNextOpenWorks) {
    photographGreen();
    for (const std::string page : {"<p>loaded</p><script>setTimeout(function () { for (;;) {} }, 300);</script>",
                                   "<p>loading</p><script>for (;;) {}</script><p>never</p>"}) {
        server.serve("/busy", "<!doctype html><body>" + page);
        openWithoutWaiting(server.url("/busy"));
        // The page's script has begun its loop once the page no longer answers.
        ASSERT_TRUE(app.waitFor([&] { return capture().loadState().kind != platform::LoadState::Opening && !ask("1", 200); },
                                20000));
        good = app.main().pictureBox("Picture1").image();
        EXPECT_EQ(photoMessage(), "拍照出错 网页没有响应：它的脚本可能陷入了死循环，已被停止。请重新打开网址后再拍照。");
        expectGoodKept();
        // A later photo says why there is nothing, and a new open gets a new process.
        const auto again = photoMessage();
        EXPECT_NE(again.find("网页没有响应"), std::string::npos) << again;
        server.serve("/after", "<!doctype html><body style='margin:0;background:#0000ff'><div style='height:900px'>");
        ASSERT_TRUE(openPage(server.url("/after")));
        EXPECT_EQ(photoMessage(), "");
        EXPECT_EQ(app.main().pictureBox("Picture1").image()->at(10, 10), 0x0000ffu);
        good = app.main().pictureBox("Picture1").image();
    }
}

TEST_F(HostileGui, APageStillOpeningOrRefusedIsNeverPhotographedAsAnother) {
    photographGreen();
    server.stall("/slow");
    openWithoutWaiting(server.url("/slow"));
    good = app.main().pictureBox("Picture1").image();
    EXPECT_EQ(photoMessage(), "拍照出错 网页还在打开，还没有内容可拍：请等网页在查看窗口里显示出来后再点拍照。");
    expectGoodKept();

    // A fresh viewer: the engine's error page there completes as any page does.
    app.road().viewer().close();
    openWithoutWaiting(support::unreachableUrl("/refused"));
    ASSERT_TRUE(waitForState(platform::LoadState::Failed));
    EXPECT_TRUE(app.waitFor([&] {
        auto* viewer = app.road().viewer().current();
        return viewer && viewer->window().label("Label3").caption() == resources::kBlackScreenHint;
    }, 20000));
    EXPECT_EQ(photoMessage(), "拍照出错 网页没能打开（服务器拒绝了连接）：请检查网址和网络后重新打开。");
    expectGoodKept();
    // Saving writes the last good snapshot.
    app.dialogs.nextName = files.path("kept.bmp");
    app.road().saveCommand();
    const auto bmp = support::Bitmap::read(files.path("kept.bmp"));
    ASSERT_TRUE(bmp);
    EXPECT_EQ(bmp->pixel(10, 10), 0x00ff00u);

    // A page the server answered with an error status but content is a page.
    server.serve("/missing-page", "");
    ASSERT_TRUE(openPage(server.url("/nothing-here")));
    EXPECT_EQ(photoMessage(), "");
}

TEST_F(HostileGui, AnAddressTheEngineRefusesIsSaidAndAPageThatMovesOnIsPhotographedWhereItLands) {
    photographGreen();
    openWithoutWaiting("http://127.0.0.1:25/");
    ASSERT_TRUE(waitForState(platform::LoadState::Failed));
    EXPECT_EQ(photoMessage(), "拍照出错 网页没能打开（浏览器不连接 25 端口，它是留给其他服务的）：请检查网址和网络后重新打开。");
    expectGoodKept();

    server.serve("/red", "<!doctype html><body style='margin:0;background:#ff0000'><div style='height:1500px'>");
    server.serve("/moves", kGreen + "<script>onload = function () { setTimeout(function () { location.href = '/red'; }, 0); };"
                                    "</script>");
    const int before = app.captureBrowserPages;
    openWithoutWaiting(server.url("/moves"));
    ASSERT_TRUE(app.waitFor([&] { return app.captureBrowserPages >= before + 2; }, 20000));
    EXPECT_EQ(photoMessage(), "");
    EXPECT_EQ(app.main().pictureBox("Picture1").image()->at(10, 10), 0xff0000u);

    // A page that never stops moving on is said, not photographed mid-move.
    server.serve("/a", "<!doctype html><script>location.replace('/b')</script>");
    server.serve("/b", "<!doctype html><script>onload = function () { setTimeout(function () { location.href = '/a'; }, 0); };"
                       "</script>");
    good = app.main().pictureBox("Picture1").image();
    openWithoutWaiting(server.url("/a"));
    ASSERT_TRUE(waitForState(platform::LoadState::Failed));
    EXPECT_EQ(photoMessage(), "拍照出错 网页没能打开（网页不停地自己跳转到别的地址）：请检查网址和网络后重新打开。");
    expectGoodKept();
}

TEST_F(HostileGui, ClicksDuringASlowPhotoAreIgnoredAndNothingWrongIsSaved) {
    std::string tall = "<!doctype html><body style='margin:0'>";
    for (int i = 0; i < 100; ++i) tall += std::string("<div style='height:1000px;background:") + (i % 2 ? "#f00" : "#00f") + "'></div>";
    server.serve("/tall", tall);
    ASSERT_TRUE(openPage(server.url("/tall")));
    std::ofstream(files.path("old.bmp")) << "old";
    int inner = 0;
    later(30, [&] {
        ++inner;
        app.dialogs.nextName = files.path("old.bmp");
        app.road().saveCommand();
        app.road().photoCommand();
        app.road().photoCommand();
    });
    app.road().photoCommand();
    EXPECT_EQ(inner, 1);
    EXPECT_TRUE(app.dialogs.warnings.empty());
    EXPECT_TRUE(app.dialogs.requests.empty());  // the save never asked for a name
    std::ifstream old(files.path("old.bmp"));
    EXPECT_EQ(std::string((std::istreambuf_iterator<char>(old)), {}), "old");
    EXPECT_EQ(app.main().pictureBox("Picture1").image()->height(), 100000);
    // The busy pointer is gone again.
    auto& main = dynamic_cast<platform::gtk::GtkWindowImpl&>(app.main());
    EXPECT_EQ(gdk_window_get_cursor(main.gtkWindow().get_window()->gobj()), nullptr);
}

TEST_F(HostileGui, ACrashedPageIsSaidAtThePhotoAndReplacedAtTheNextOpen) {
    photographGreen();
    // Every web process of this program ends as in a crash.
    const auto processes = ownWebProcesses();
    ASSERT_FALSE(processes.empty());
    for (int pid : processes) ::kill(pid, SIGKILL);
    ASSERT_TRUE(waitForState(platform::LoadState::Crashed));
    EXPECT_EQ(photoMessage(), "拍照出错 显示网页的进程意外退出了：请重新打开网址后再拍照。");
    expectGoodKept();
    server.serve("/again", "<!doctype html><body style='margin:0;background:#0000ff'><div style='height:900px'>");
    ASSERT_TRUE(openPage(server.url("/again")));
    EXPECT_EQ(photoMessage(), "");
    EXPECT_EQ(app.main().pictureBox("Picture1").image()->at(10, 10), 0x0000ffu);
}

TEST_F(HostileGui, DroppedScriptsNeverRunInThePage) {
    photographGreen();
    platform::DropData d;
    d.hasText = true;
    d.text = "javascript:document.body.style.background='#ff0000';void 0";
    app.road().drop(d);
    // Whatever the drop sent the page has come before this answer.
    EXPECT_EQ(ask("getComputedStyle(document.body).backgroundColor"), "rgb(0, 255, 0)");
    EXPECT_EQ(photoMessage(), "");
    EXPECT_EQ(app.main().pictureBox("Picture1").image()->at(10, 10), 0x00ff00u);
}

TEST_F(HostileGui, SavingThroughALinkReplacesTheFileItPointsTo) {
    photographGreen();
    std::ofstream(files.path("real.bmp")) << "old";
    std::filesystem::create_symlink(files.path("real.bmp"), files.path("link.bmp"));
    app.dialogs.nextName = files.path("link.bmp");
    app.road().saveCommand();
    EXPECT_TRUE(app.dialogs.warnings.empty());
    EXPECT_TRUE(std::filesystem::is_symlink(files.path("link.bmp")));
    const auto bmp = support::Bitmap::read(files.path("real.bmp"));
    ASSERT_TRUE(bmp);
    EXPECT_EQ(bmp->pixel(10, 10), 0x00ff00u);
}

TEST(HostileLinks, OnlyPlainWebAddressesReachTheDesktop) {
    platform::gtk::GtkShell shell;
    for (const std::string ok : {"http://www.vemo.example/", "https://promo.example/a?b=1#c", "HTTP://X.example",
                                 "http://127.0.0.1:8080/x", "https://[::1]/", "https://例子.example/"})
        EXPECT_TRUE(shell.isWebLink(ok)) << ok;
    for (const std::string bad : {"http://\\evil.example/", "https://www.vemo.example@evil.example/",
                                  "http://-oProxyCommand=x", "http://a.example/\u202Egpj.exe", "file:///etc/passwd",
                                  "javascript:alert(1)", "http://", "http:///x", "http://a b.example", "ftp://a.example",
                                  "http://a..example/", "http://a.example\n/"})
        EXPECT_FALSE(shell.isWebLink(bad)) << bad;
}

TEST(SandboxGui, WebProcessesRunInNamespacesOfTheirOwn) {
    TempDir pages;
    GuiHarness app;
    ASSERT_TRUE(app.open(support::writePage(pages, "p.html", "<p>sandboxed</p>")));
    auto ns = [](const std::string& pid, const char* kind) {
        std::error_code ec;
        return std::filesystem::read_symlink("/proc/" + pid + "/ns/" + kind, ec).string();
    };
    const std::string self = std::to_string(::getpid());
    int found = 0;
    for (int pid : ownWebProcesses()) {
        ++found;
        EXPECT_NE(ns(std::to_string(pid), "mnt"), ns(self, "mnt")) << pid;
        EXPECT_NE(ns(std::to_string(pid), "pid"), ns(self, "pid")) << pid;
    }
    EXPECT_GE(found, 1);
}

}  // namespace
