// The capture browser scrolls through each page once after it has loaded, so images
// the page's own scripts load when scrolled to are in the photo.
#include <gtest/gtest.h>

#include "engine/PagePainter.h"
#include "platform/gtk/GtkControls.h"
#include "tests/support/GuiHarness.h"

using support::GuiHarness;
using support::TempDir;
using support::writePage;

namespace {

// A block the page turns green only once it has come into view, far below the screen,
// under a fixed bar at the top of the page.
const std::string kLatePage =
    "<!doctype html><html><body style='margin:0'>"
    "<div style='position:fixed;top:0;left:0;right:0;height:40px;background:#000080'></div>"
    "<div style='height:6000px;background:#fff'></div>"
    "<div id=late style='height:300px;background:#f00'></div><div style='height:3000px'></div><script>"
    "new IntersectionObserver(function (es) { es.forEach(function (e) {"
    "  if (e.isIntersecting) e.target.style.background = '#00c000'; }); })"
    ".observe(document.getElementById('late'));</script></body></html>";

// Whether `settled` holds in the browser's page once the warm-up has ended with the page
// back at its top (waited for); then the photo.
bool settledThenPhoto(GuiHarness& app, const std::string& settled) {
    auto* view = dynamic_cast<platform::gtk::GtkBrowser&>(app.main().browser("WebBrowser1")).view();
    const bool ok = app.waitFor([&] {
        return engine::PagePainter(view)
                   .evaluate("String(!window.__vemoWarm && scrollY === 0 && " + settled + ")", 2000, nullptr,
                             engine::World::Engine)
                   .value_or("") == "true";
    }, 20000);
    if (ok) app.road().photoCommand();
    return ok;
}

TEST(WarmUpGui, PhotoHoldsWhatThePageShowsOnlyWhenScrolledTo) {
    TempDir pages;
    GuiHarness app;
    ASSERT_TRUE(app.open(writePage(pages, "late.html", kLatePage)));
    // The warm-up has woken the part the page waits to see, and put the page back at its top.
    ASSERT_TRUE(settledThenPhoto(
        app, "getComputedStyle(document.getElementById('late')).backgroundColor === 'rgb(0, 192, 0)'"));
    const auto image = app.main().pictureBox("Picture1").image();
    ASSERT_EQ(image->height(), 9300);
    EXPECT_EQ(image->at(100, 6150), 0x00c000u);
    EXPECT_EQ(image->at(100, 20), 0x000080u);  // the page is back at its top: the bar there
    EXPECT_EQ(image->at(100, 9299), 0xffffffu);
}

TEST(WarmUpGui, PhotoHoldsImagesLeftToLoadWhenNearInsideAShadowRoot) {
    TempDir pages;
    writePage(pages, "dot.svg", "<svg xmlns='http://www.w3.org/2000/svg' width='100' height='100'><rect width='100' "
                                "height='100' fill='#00c000'/></svg>");
    GuiHarness app;
    ASSERT_TRUE(app.open(writePage(pages, "shadow.html",
        "<!doctype html><body style='margin:0'><div id=h></div><script>let s = '';"
        "for (let i = 0; i < 6; i++) s += \"<div style='height:1500px'><img loading=lazy width=100 height=100 "
        "src='dot.svg'></div>\"; h.attachShadow({ mode: 'open' }).innerHTML = s;</script>")));
    ASSERT_TRUE(settledThenPhoto(app, "Array.from(document.getElementById('h').shadowRoot.querySelectorAll('img'))"
                                      ".every(i => i.complete && i.naturalWidth > 0)"));
    const auto image = app.main().pictureBox("Picture1").image();
    ASSERT_EQ(image->height(), 9000);
    for (int i = 0; i < 6; ++i) EXPECT_EQ(image->at(50, i * 1500 + 50), 0x00c000u) << i;
}

TEST(WarmUpGui, PhotoDuringTheWarmUpStopsItAndTakesThePageFromItsTop) {
    TempDir pages;
    GuiHarness app;
    ASSERT_TRUE(app.open(writePage(pages, "late.html", kLatePage)));
    app.road().photoCommand();
    const auto image = app.main().pictureBox("Picture1").image();
    ASSERT_EQ(image->height(), 9300);
    EXPECT_EQ(image->at(100, 20), 0x000080u);
    for (int y = 60; y < 6000; y += 500) EXPECT_EQ(image->at(100, y), 0xffffffu) << y;
}

// A document that scrolls in its body, whose body's scroll listener colours what it shows:
// the warm-up scrolls the body, and the photo holds every section coloured.
TEST(WarmUpGui, PhotoHoldsWhatADocumentScrollingInItsBodyShowsAsItScrolls) {
    std::string html = "<!doctype html><html><style>html, body { height: 100%; overflow-x: hidden; margin: 0 }"
                       " div { height: 1000px; background: #888 } div.on { background: #00c000 }</style><body>";
    for (int i = 0; i < 8; ++i) html += "<div></div>";
    html += "<script>const show = () => document.querySelectorAll('div:not(.on)').forEach(d => {"
            " const r = d.getBoundingClientRect(); if (r.top < innerHeight && r.bottom > 0) d.classList.add('on'); });"
            " document.body.addEventListener('scroll', show); show();</script></body></html>";
    TempDir pages;
    GuiHarness app;
    ASSERT_TRUE(app.open(writePage(pages, "body.html", html)));
    ASSERT_TRUE(settledThenPhoto(app, "document.body.scrollTop === 0 && document.querySelectorAll('div.on').length === 8"));
    const auto image = app.main().pictureBox("Picture1").image();
    ASSERT_TRUE(image);
    ASSERT_EQ(image->height(), 8000);
    for (int i = 0; i < 8; ++i) EXPECT_EQ(image->at(100, i * 1000 + 500), 0x00c000u) << i;
}

}  // namespace
