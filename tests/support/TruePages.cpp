#include "tests/support/TruePages.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

namespace support {

namespace {

std::string hex(std::uint32_t c) {
    char b[8];
    std::snprintf(b, sizeof b, "#%06x", c);
    return b;
}

// Red at the top to blue at the bottom over `rows` rows: row y's colour.
std::uint32_t redToBlue(double y, double rows) {
    const double t = (y + 0.5) / rows;
    return static_cast<std::uint32_t>(std::lround(255 * (1 - t))) << 16 | static_cast<std::uint32_t>(std::lround(255 * t));
}

// Blocks of `rows` rows each in colours of their own (never those of the gradients), from row `top`;
// probed at each one's first, middle and last rows.
std::string blocks(int count, int cssRows, int rows, int top, int x, std::vector<Probe>& probes) {
    std::string html;
    for (int i = 0; i < count; ++i) {
        const auto colour = static_cast<std::uint32_t>(i * 6) << 16 | static_cast<std::uint32_t>(255 - i * 6) << 8 | 0x80;
        html += "<div style='height:" + std::to_string(cssRows) + "px;background:" + hex(colour) + "'></div>";
        for (const int y : {top + i * rows, top + i * rows + rows / 2, top + (i + 1) * rows - 1})
            probes.push_back({x, y, colour, 0, "block " + std::to_string(i)});
    }
    return html;
}

TruePage dynamicUnits() {
    TruePage p{"dynamic-units", {}, 1280, 1024 + 1000 + 512 + 2000, {}};
    p.html = "<!doctype html><html><head><style>:root { --screen: 100dvh }"
             ".b { height: calc(100dvmin - 24px); background: #c00000 }"
             ".c { height: calc(var(--screen) / 2); background: #0000c0 }</style></head><body style='margin:0'>"
             "<div style='min-height:100dvh;background:#00c000'></div><div class='b'></div><div class='c'></div>"
             "<div style='height:2000px;background:#808080'></div></body></html>";
    p.probes = {{640, 1, 0x00c000, 0, "top of the screen-high part"}, {640, 1023, 0x00c000, 0, "its end"},
                {640, 1024, 0xc00000, 0, "calc(100dvmin - 24px)"}, {640, 2023, 0xc00000, 0, "its end"},
                {640, 2024, 0x0000c0, 0, "half the screen through a custom property"}, {640, 2535, 0x0000c0, 0, "its end"},
                {640, 2536, 0x808080, 0, "what follows"}, {640, 4535, 0x808080, 0, "the page's last row"}};
    return p;
}

// Strips: a gradient as long as the page on the body, a screen-high part, and blocks in a column.
TruePage longPage() {
    constexpr int kTall = 1024 + 40 * 1000;
    TruePage p{"long", {}, 1280, kTall, {}};
    p.probes = {{640, 1, 0x00c000, 0, "top of the screen-high part"}, {640, 1023, 0x00c000, 0, "its end"}};
    p.html = "<!doctype html><html><body style='margin:0;background:linear-gradient(#ff0000,#0000ff)'>"
             "<div style='height:100dvh;background:#00c000'></div><main style='margin-left:340px;width:600px'>" +
             blocks(40, 1000, 1000, 1024, 640, p.probes) + "</main></body></html>";
    for (int y = 1024; y < kTall; y += 2000) p.probes.push_back({5, y, redToBlue(y, kTall), 3, "the page's gradient"});
    for (int join = 8192; join < kTall; join += 8192)
        for (const int y : {join - 1, join})
            p.probes.push_back({5, y, redToBlue(y, kTall), 3, "the page's gradient at a join"});
    p.probes.push_back({5, kTall - 1, redToBlue(kTall - 1, kTall), 3, "the gradient's end"});
    return p;
}

TruePage zoomed(const std::string& name, const char* zoom, int count, int rows) {
    TruePage p{name, {}, 1280, count * rows, {}};
    p.html = std::string("<!doctype html><html style='zoom:") + zoom + "'><body style='margin:0'>" +
             blocks(count, 1000, rows, 0, 640, p.probes) + "</body></html>";
    return p;
}

TruePage rightToLeft() {
    TruePage p{"right-to-left", {}, 2000, 1500, {}};
    p.html = "<!doctype html><html dir='rtl'><body style='margin:0'><div style='width:2000px;height:1500px;background:"
             "linear-gradient(to right,#ff0000 0 500px,#00ff00 500px 1000px,#0000ff 1000px 1500px,#ffff00 1500px)'>"
             "</div></body></html>";
    p.probes = {{1, 700, 0xff0000, 0, "the page's left edge"},  {250, 700, 0xff0000, 0, "its first quarter"},
                {750, 700, 0x00ff00, 0, "the second"},          {1250, 700, 0x0000ff, 0, "the third"},
                {1750, 700, 0xffff00, 0, "the fourth"},          {1998, 700, 0xffff00, 0, "the right edge"}};
    return p;
}

TruePage fixedBackgrounds() {
    TruePage p{"fixed-backgrounds", {}, 1280, 4000, {}};
    p.html = "<!doctype html><html><body style='margin:0'><div style='height:1000px;background:#00ff00'></div>"
             "<section style='height:1000px;background:linear-gradient(#ff0000,#0000ff) fixed'></section>"
             "<div style='height:1000px;background:#00ff00'></div>"
             "<section style='height:1000px;background-image:linear-gradient(#ff0000,#0000ff);"
             "background-attachment:fixed;background-size:cover'></section></body></html>";
    for (const int top : {1000, 3000}) {
        for (const int dy : {1, 500, 990})
            p.probes.push_back({640, top + dy, redToBlue(dy, 1024), 3, "a screen's gradient from the section's top"});
        p.probes.push_back({640, top - 500, 0x00ff00, 0, "what lies between"});
    }
    return p;
}

// The page's own background fixed to the screen, on a page long enough to be painted in strips.
TruePage fixedRoot() {
    TruePage p{"fixed-root", {}, 1280, 34000, {}};
    p.html = "<!doctype html><html><body style='margin:0;background:linear-gradient(#ff0000,#0000ff) fixed'>"
             "<div style='height:34000px'></div></body></html>";
    for (const int screen : {0, 1, 16, 32})
        for (const int dy : {1, 500, 1000})
            p.probes.push_back({640, screen * 1024 + dy, redToBlue(dy, 1024), 3, "the screen's gradient on each screen"});
    return p;
}

// As documentation generators make them: a page that styles its scroll bars (rustdoc),
// laid out as on a screen whose scroll bars float above it, painted to its right edge.
TruePage styledScrollBars() {
    TruePage p{"styled-scroll-bars", {}, 1280, 3000, {}};
    p.html = "<!doctype html><html><head><style>::-webkit-scrollbar { width: 14px; background: #ff0000 }</style></head>"
             "<body style='margin:0'>" + blocks(3, 1000, 1000, 0, 1275, p.probes) + "</body></html>";
    return p;
}

// A body pulled above the document by its first child's negative margin (mdBook): what
// lies above the document's top is no part of the page.
TruePage pulledUpBody() {
    TruePage p{"pulled-up-body", {}, 1280, 2950, {}};
    p.html = "<!doctype html><html><body style='margin:0'><div style='margin-top:-50px'>" +
             blocks(3, 1000, 1000, -50, 640, p.probes) + "</div></body></html>";
    p.probes.erase(p.probes.begin());  // the first block's first row is above the page
    return p;
}

}  // namespace

std::vector<TruePage> truePages() {
    return {dynamicUnits(), longPage(), zoomed("zoom-in", "2", 20, 2000), zoomed("zoom-out", ".5", 16, 500),
            rightToLeft(), fixedBackgrounds(), fixedRoot(), styledScrollBars(), pulledUpBody()};
}

TruePage truePage(const std::string& name) {
    for (auto& p : truePages())
        if (p.name == name) return p;
    throw std::invalid_argument("no true page " + name);
}

std::string changingPage(bool once, int tall) {
    return std::string("<!doctype html><body style='margin:0'>"
                       "<section id=s style='content-visibility:auto;contain-intrinsic-size:500px'>"
                       "<div style='height:500px;background:#ff0000'></div></section>"
                       "<div id=t style='height:") + std::to_string(tall) + "px;background:#00ff00'></div><script>"
                       "new MutationObserver(function () { var t = document.getElementById('t');" +
           (once ? "t.style.height = '1000px';" : "t.style.height = Math.max(0, t.offsetHeight - 1000) + 'px';") +
           "}).observe(document.getElementById('s'), {attributes: true});</script></body>";
}

std::string mismatch(const TruePage& page, int width, int height, const std::function<std::uint32_t(int, int)>& at) {
    if (width != page.width || height != page.height)
        return page.name + ": " + std::to_string(width) + " x " + std::to_string(height) + " px, not " +
               std::to_string(page.width) + " x " + std::to_string(page.height);
    for (const auto& probe : page.probes) {
        const auto got = at(probe.x, probe.y) & 0xFFFFFF;
        bool near = true;
        for (const int shift : {16, 8, 0})
            near = near && std::abs(static_cast<int>((got >> shift) & 0xFF) - static_cast<int>((probe.colour >> shift) & 0xFF)) <=
                               probe.tolerance;
        if (!near)
            return page.name + ": " + probe.what + " at (" + std::to_string(probe.x) + ", " + std::to_string(probe.y) +
                   ") is " + hex(got) + ", not " + hex(probe.colour);
    }
    return {};
}

}  // namespace support
