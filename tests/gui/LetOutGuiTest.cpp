// The window program's photo of an application shell whose content scrolls beside its
// navigation: the content let out to its whole height at the width the screen showed,
// and the page put back afterwards.
#include <gtest/gtest.h>

#include "engine/PagePainter.h"
#include "platform/gtk/GtkControls.h"
#include "tests/support/GuiHarness.h"

namespace {

TEST(LetOutGui, PhotoOfAShellHoldsItsContentWholeAtTheScreensWidth) {
    const std::uint32_t colours[] = {0xff0000, 0x00ff00, 0x0000ff, 0xffff00};
    const char* const css[] = {"#f00", "#0f0", "#00f", "#ff0"};
    std::string html = "<!doctype html><html><style>body { margin: 0 } .app { display: flex; height: 100vh }"
                       " nav { width: 200px; background: #888 } main { flex: 1; overflow: auto }</style>"
                       "<body><div class=app><nav></nav><main>";
    for (int i = 0; i < 12; ++i)
        html += std::string("<section style='height:1000px;background:") + css[i % 4] + "'><h2 style='margin:0'>Part</h2></section>";
    html += "</main></div></body></html>";
    support::TempDir pages;
    support::GuiHarness app;
    ASSERT_TRUE(app.open(support::writePage(pages, "shell.html", html)));
    app.road().photoCommand();
    const auto image = app.main().pictureBox("Picture1").image();
    ASSERT_TRUE(image);
    ASSERT_EQ(image->height(), 12000);
    for (int i = 0; i < 12; ++i) {
        EXPECT_EQ(image->at(210, i * 1000 + 500), colours[i % 4]) << "section " << i;
        EXPECT_EQ(image->at(image->width() - 20, i * 1000 + 500), colours[i % 4]) << "section " << i;
    }
    // Back as it was: no style of the photo's left, the content scrolls in its box again.
    auto* view = dynamic_cast<platform::gtk::GtkBrowser&>(app.main().browser("WebBrowser1")).view();
    EXPECT_EQ(engine::PagePainter(view)
                  .evaluate("const m = document.querySelector('main');"
                            "String(!m.getAttribute('style') && m.scrollHeight > m.clientHeight + 10000)",
                            5000, nullptr, engine::World::Engine)
                  .value_or(""),
              "true");
}

// A document that scrolls in its body: the photo holds it whole.
TEST(LetOutGui, PhotoOfADocumentThatScrollsInItsBodyHoldsItWhole) {
    std::string html = "<!doctype html><html><style>html, body { height: 100%; overflow-x: hidden; margin: 0 }</style><body>";
    for (int i = 0; i < 8; ++i)
        html += std::string("<div style='height:1000px;background:") + (i % 2 ? "#00f" : "#f00") + "'></div>";
    support::TempDir pages;
    support::GuiHarness app;
    ASSERT_TRUE(app.open(support::writePage(pages, "body.html", html + "</body></html>")));
    app.road().photoCommand();
    const auto image = app.main().pictureBox("Picture1").image();
    ASSERT_TRUE(image);
    ASSERT_TRUE(app.dialogs.warnings.empty()) << app.dialogs.warnings[0].first;
    ASSERT_EQ(image->height(), 8000);
    for (int i = 0; i < 8; ++i) EXPECT_EQ(image->at(100, i * 1000 + 500), i % 2 ? 0x0000ffu : 0xff0000u) << i;
}

}  // namespace
