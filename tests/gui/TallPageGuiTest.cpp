// Pages taller than one engine picture, on the real engine: painted in strips, held
// in bands, panned and saved whole.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "capture/Strips.h"
#include "platform/gtk/GtkControls.h"
#include "engine/PagePainter.h"
#include "tests/support/GuiHarness.h"
#include "tests/support/TruePages.h"

using support::Bitmap;
using support::GuiHarness;
using support::TempDir;
using support::writePage;

namespace {

const std::vector<std::uint32_t> kBands = {0xff0000, 0x00ff00, 0x0000ff, 0xffff00, 0x00ffff, 0xff00ff, 0x804020};

std::string hex(std::uint32_t c) {
    char b[8];
    std::snprintf(b, sizeof b, "#%06x", c);
    return b;
}

// Bands of `band` px in the colours above, and a black last row to find the end by.
std::string bandPage(int height, int band) {
    std::string html = "<!doctype html><html><body style='margin:0'>";
    for (int top = 0, i = 0; top < height - 1; top += band, ++i)
        html += "<div style='height:" + std::to_string(std::min(band, height - 1 - top)) + "px;background:" +
                hex(kBands[i % kBands.size()]) + "'></div>";
    return html + "<div style='height:1px;background:#000'></div></body></html>";
}

class TallPageGui : public ::testing::Test {
protected:
    std::optional<Bitmap> photoAndSave(const std::string& name) { return app.photoAndSave(files.path(name)); }
    platform::gtk::GtkBrowser& browser() {
        return dynamic_cast<platform::gtk::GtkBrowser&>(app.main().browser("WebBrowser1"));
    }
    std::string script(const std::string& js) {
        return engine::PagePainter(browser().view()).evaluate(js, 5000).value_or("(none)");
    }
    // Photographs the page now open; Picture1's image.
    std::shared_ptr<const capture::Image> photo() {
        app.road().photoCommand();
        return app.main().pictureBox("Picture1").image();
    }

    void checkBands(int height, int band) {
        ASSERT_TRUE(app.open(writePage(pages, "bands.html", bandPage(height, band)), 30000));
        auto bmp = photoAndSave("bands.bmp");
        ASSERT_TRUE(bmp);
        ASSERT_TRUE(app.dialogs.warnings.empty()) << app.dialogs.warnings[0].first;
        ASSERT_EQ(bmp->height, height);
        auto expected = [&](int y) { return y == height - 1 ? 0u : kBands[(y / band) % kBands.size()]; };
        for (int top = 0; top < height - 1; top += band) {
            const int centre = std::min(top + band / 2, height - 2);
            ASSERT_EQ(bmp->pixel(300, centre), expected(centre)) << "band centre " << centre;
        }
        // Around every seam between strips: no row repeated, lost or shifted.
        for (const auto& s : capture::planStrips(height)) {
            for (int y = std::max(0, s.top - 2); y < std::min(height, s.top + 3); ++y)
                ASSERT_EQ(bmp->pixel(700, y), expected(y)) << "row " << y;
        }
        // Band edges next to seams prove rows are neither repeated nor lost.
        EXPECT_EQ(bmp->pixel(10, height - 1), 0u);
        EXPECT_EQ(bmp->pixel(10, height - 2), expected(height - 2));
    }

    TempDir pages, files;
    GuiHarness app;
};

TEST_F(TallPageGui, FortyThousandPixelPageIsPhotographedAndSavedWhole) {
    // A band edge on every seam: band height divides the strip height.
    checkBands(40000, 1024);
}

TEST_F(TallPageGui, HundredThousandPixelPageIsWholeAndThePreviewReachesItsLastRow) {
    checkBands(100000, 1000);
    auto& bar = app.main().scrollBar("VScroll1");
    auto& picture1 = app.main().pictureBox("Picture1");
    auto& picture2 = app.main().pictureBox("Picture2");
    EXPECT_LE(bar.max(), 32767);
    bar.setValue(bar.max());
    app.settle(200);
    // The last row, black, lies within the viewport at the bottom of the range.
    const int lastRowAt = picture1.top() + picture1.borderWidth() + 99999;
    EXPECT_GE(lastRowAt, 0);
    EXPECT_LT(lastRowAt, picture2.scaleHeight());
    // And is what the preview draws there.
    auto& widget = dynamic_cast<platform::gtk::GtkPictureBox&>(picture2);
    auto shot = Cairo::ImageSurface::create(Cairo::FORMAT_RGB24, widget.get_allocated_width(), widget.get_allocated_height());
    gtk_widget_draw(GTK_WIDGET(widget.gobj()), Cairo::Context::create(shot)->cobj());
    shot->flush();
    auto at = [&](int y) {
        const int b = picture2.borderWidth();
        return *reinterpret_cast<const std::uint32_t*>(shot->get_data() + static_cast<std::size_t>(y + b) * shot->get_stride() + 50 * 4) & 0xFFFFFF;
    };
    EXPECT_EQ(at(lastRowAt), 0u) << "the last row in the preview";
    EXPECT_EQ(at(lastRowAt - 1), kBands[(99998 / 1000) % kBands.size()]) << "the row above it";
}

TEST_F(TallPageGui, FixedStickyAndViewportHighPartsComeOutAsOnAShortPage) {
    auto page = [](int filler) {
        return "<!doctype html><html><body style='margin:0'>"
               "<header style='position:fixed;top:0;left:0;right:0;height:50px;background:#102030'></header>"
               "<div style='height:100vh;background:#ff0000'></div>"
               "<nav style='position:sticky;top:0;height:40px;background:#00ff00'></nav>"
               "<div style='height:" + std::to_string(filler) + "px;background:#0000ff'></div>"
               "<section style='content-visibility:auto;height:300px'><div style='height:300px;background:#123456'>"
               "</div></section></body></html>";
    };
    ASSERT_TRUE(app.open(writePage(pages, "short.html", page(3000))));
    const auto small = photo();
    ASSERT_TRUE(app.open(writePage(pages, "tall.html", page(60000))));
    const auto tall = photo();
    ASSERT_TRUE(app.dialogs.warnings.empty());
    const int hero = static_cast<int>(app.ui.screen().heightTwips / app.ui.screen().twipsPerPixelY);
    ASSERT_EQ(tall->height(), hero + 60340);
    EXPECT_EQ(tall->at(500, hero - 1), 0xff0000u);  // the hero keeps the screen's height
    EXPECT_EQ(tall->at(500, hero), 0x00ff00u);
    EXPECT_EQ(tall->at(500, hero + 40), 0x0000ffu);
    EXPECT_EQ(tall->at(500, tall->height() - 301), 0x0000ffu);
    // A section that renders only when seen is painted, far below the screen.
    EXPECT_EQ(tall->at(500, tall->height() - 150), 0x123456u);
    // The first rows, header and all, are those of the short page.
    for (int y = 0; y < hero + 200; y += 7)
        for (int x = 0; x < tall->width(); x += 101) ASSERT_EQ(tall->at(x, y), small->at(x, y)) << x << "," << y;
}

// The window program shares the engine: a long page with a gradient as long as it, a
// part as high as the screen in dynamic viewport units, and blocks across every strip's
// join; a long page whose own background is fixed to the screen; and a body pulled up
// by its first child's negative margin.
TEST_F(TallPageGui, ALongPageComesOutAsItsScreenShowsItScrolledThrough) {
    for (const char* name : {"long", "fixed-root", "pulled-up-body"}) {
        const auto page = support::truePage(name);
        ASSERT_TRUE(app.open(writePage(pages, page.name + ".html", page.html), 30000)) << name;
        const auto image = photo();
        ASSERT_TRUE(image) << name;
        ASSERT_TRUE(app.dialogs.warnings.empty()) << name << ": " << app.dialogs.warnings[0].first;
        EXPECT_EQ(support::mismatch(page, image->width(), image->height(), [&](int x, int y) { return image->at(x, y); }), "");
    }
}

// A local HTML file whose XHTML doctype makes the system take it for XHTML, in a frame of
// a local page, is read as HTML with its links found beside it, as the command reads it.
TEST_F(TallPageGui, AFramesHtmlFileWithAnXhtmlDoctypeIsReadAsHtml) {
    std::filesystem::create_directories(pages.path("in"));
    std::ofstream(pages.path("in/b.html"))
        << "<?xml version='1.0' encoding='utf-8'?>\n<!DOCTYPE html PUBLIC '-//W3C//DTD XHTML 1.1//EN' "
           "'http://www.w3.org/TR/xhtml11/DTD/xhtml11.dtd'>\n<html><head><link rel='stylesheet' href='c.css'/></head>"
           "<body style='margin:0'><div style='height:300px;background:#00ff00'></div><p id='last'></p></body></html>";
    std::ofstream(pages.path("in/c.css")) << "#last { height: 300px; margin: 0; background: #0000ff }";
    ASSERT_TRUE(app.open(writePage(pages, "framed.html", "<!doctype html><body style='margin:0'><iframe src='in/b.html'"
                                                         " style='display:block;border:0;width:100%;height:600px'></iframe>"),
                         30000));
    const auto image = photo();
    ASSERT_TRUE(image);
    EXPECT_EQ(image->at(100, 150), 0x00ff00u);
    EXPECT_EQ(image->at(100, 450), 0x0000ffu);
}

// A page painted in strips that is shorter once painted than measured is said, with both
// sizes, not shown padded out to its old height.
TEST_F(TallPageGui, APageShorterOncePaintedInStripsIsSaid) {
    ASSERT_TRUE(app.open(writePage(pages, "shrinking.html", support::changingPage(true, 40000)), 30000));
    app.road().photoCommand();
    ASSERT_EQ(app.dialogs.warnings.size(), 1u);
    EXPECT_NE(app.dialogs.warnings[0].first.find("1280 x 40500 px of the page, which measured 1280 x 1500"),
              std::string::npos) << app.dialogs.warnings[0].first;
}

TEST_F(TallPageGui, SmallStripsGiveTheSamePixelsAsOnePaintAndLeaveThePageAsItWas) {
    const std::string html =
        "<!doctype html><html style='background:#fafad2'><body style='margin:20px;background:#e0e0ff'>"
        "<header style='position:fixed;top:0;left:0;right:0;height:60px;background:#203040;color:#fff'>fixed</header>"
        "<aside style='position:fixed;top:60px;bottom:0;right:0;width:80px;background:#406080'></aside>"
        "<footer style='position:fixed;bottom:0;left:0;width:300px;height:30px;background:#804000'></footer>"
        "<div style='height:100vh;background:linear-gradient(#f00,#ff0)'>hero</div>"
        "<nav style='position:sticky;top:60px;height:30px;background:#0a0'>sticky</nav>"
        "<div style='position:absolute;bottom:10px;left:40px;width:50px;height:50px;background:#a0a'></div>"
        "<div style='display:flex;gap:8px'><div style='flex:1;height:2500px;background:#8cf;border-radius:30px'>"
        "text text text</div><div style='flex:1;height:2500px;background:#fc8'></div></div>"
        "<p>the end</p></body></html>";
    ASSERT_TRUE(app.open(writePage(pages, "mixed.html", html)));
    script("document.documentElement.setAttribute('style', 'color: rgb(1, 2, 3)'); 1");
    const auto whole = photo();
    ASSERT_TRUE(whole);
    // Strips start from the top, wherever the page was scrolled to.
    script("window.scrollTo(0, 321); 1");
    browser().forceStrips(700);
    const auto strips = photo();
    ASSERT_TRUE(strips);
    ASSERT_TRUE(app.dialogs.warnings.empty());
    ASSERT_GT(strips->bands().size(), 5u);
    ASSERT_EQ(strips->width(), whole->width());
    ASSERT_EQ(strips->height(), whole->height());
    // The same pixels, but for the antialiasing of a curve here and there, which
    // follows where the engine's paint tiles fall.
    long differing = 0;
    int worst = 0;
    std::string where;
    for (int y = 0; y < whole->height(); ++y)
        for (int x = 0; x < whole->width(); ++x) {
            const auto a = strips->at(x, y), b = whole->at(x, y);
            if (a == b) continue;
            if (++differing <= 3) where += " " + std::to_string(x) + "," + std::to_string(y) + ":" + std::to_string(a) + "/" + std::to_string(b);
            for (int shift : {0, 8, 16})
                worst = std::max(worst, std::abs(static_cast<int>((a >> shift) & 0xFF) - static_cast<int>((b >> shift) & 0xFF)));
        }
    EXPECT_LE(differing, 20) << "of " << long{whole->width()} * whole->height() << ":" << where;
    EXPECT_LE(worst, 40) << where;
    // The page's own styles and scroll position are back.
    EXPECT_EQ(script("document.documentElement.getAttribute('style')"), "color: rgb(1, 2, 3)");
    EXPECT_EQ(script("String(window.scrollY)"), "321");
    EXPECT_EQ(script("String(document.querySelectorAll('[style*=important]').length)"), "0");
}

}  // namespace

namespace {

TEST_F(TallPageGui, APageThatScrollsInsideABoxIsPhotographedWholeAndPutBack) {
    std::string html = "<!doctype html><style>html, body { height: 100%; margin: 0 } body { display: flex; flex-direction:"
                       " column; overflow: hidden } header { height: 60px; background: #333; flex: none } main { flex: 1;"
                       " overflow: auto }</style><header></header><main style='color: rgb(1, 2, 3)'>";
    for (int i = 0; i < 12; ++i) html += "<div style='height:1000px;background:" + hex(kBands[i % kBands.size()]) + "'></div>";
    ASSERT_TRUE(app.open(writePage(pages, "shell.html", html + "</main>")));
    script("document.querySelector('main').scrollTop = 2500; 1");
    const auto image = photo();
    ASSERT_TRUE(image);
    ASSERT_TRUE(app.dialogs.warnings.empty()) << app.dialogs.warnings[0].first;
    ASSERT_EQ(image->height(), 12060);
    for (int i = 0; i < 12; ++i) EXPECT_EQ(image->at(300, 60 + i * 1000 + 500), kBands[i % kBands.size()]) << i;
    // The box is a box again, scrolled where it was.
    EXPECT_EQ(script("document.querySelector('main').getAttribute('style')"), "color: rgb(1, 2, 3)");
    EXPECT_EQ(script("String(document.querySelector('main').scrollTop)"), "2500");
    EXPECT_EQ(script("String(document.documentElement.scrollHeight)"), "1024");
}

}  // namespace
