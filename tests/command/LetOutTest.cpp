// Shells whose box is let out: each layout pages use, with its widths and its first
// screen kept; what the page hides left hidden; shells found wherever they are.
#include <string>
#include <vector>

#include "tests/command/LetOutPages.h"

namespace {

using namespace letout;

TEST_F(LetOut, EachLayoutKeepsItsWidthsAndItsFirstScreen) {
    const auto side = [](const std::string& box) {
        return "body { height: 100vh; display: flex } aside { width: 260px; flex: none; background: #888 } " + box;
    };
    const std::vector<Layout> layouts = {
        {"row", page(kRowCss, kRowShell), 20064, 64, 1000, 20, {210, 1270}},
        {"column",
         page("body { height: 100vh; display: flex; flex-direction: column } header { height: 64px; flex: none;"
              " background: #333 } main { flex: 1; overflow: auto } footer { height: 40px; flex: none; background: #888 }",
              "<header></header><main>" + kWide + sections(20) + "</main><footer></footer>"),
         20104, 64, 1000, 20, {10, 1270}, 964},
        {"grid",
         page("body { height: 100vh; display: grid; grid-template: 64px 1fr / 240px 1fr } header { grid-column: 1 / 3;"
              " background: #333 } aside { background: #888 } main { overflow: auto; min-height: 0 }",
              "<header></header><aside></aside><main>" + kWide + sections(20) + "</main>"),
         20064, 64, 1000, 20, {250, 1270}, 1004},
        {"inset",
         page(".shell { position: fixed; inset: 0; display: flex } aside { width: 220px; background: #888 }"
              " .content { flex: 1; overflow-y: auto }",
              "<div class=shell><aside></aside><div class=content>" + sections(20) + "</div></div>"),
         20000, 0, 1000, 20, {230, 1270}},
        {"sticky",
         page(side(".box { flex: 1; overflow: auto } .box header { position: sticky; top: 0; height: 40px; background: #333 }"),
              "<aside></aside><div class=box><header></header>" + sections(7) + "</div>"),
         7040, 40, 1000, 7, {270, 1270}},
        {"slides",
         page(".deck { height: 100vh; overflow-y: auto; scroll-snap-type: y mandatory } section { scroll-snap-align: start }",
              "<div class=deck>" + sections(8, 0, "100%") + "</div>"),
         8192, 0, 1024, 8, {10, 1270}},
        // An outer scroller around a header, the box and a footer; a scroller of its own
        // inside a section, left as it is; the first section's margin kept inside the box.
        {"nested",
         page(".app { height: 100vh; overflow: auto } header { height: 64px; background: #333 } main { height: calc(100vh -"
              " 64px); overflow: auto } main > section:first-child { margin-top: 30px } footer { height: 200px;"
              " background: #888 } .code { height: 300px; overflow: auto }",
              "<div class=app><header></header><main>" + sections(3) +
                  "<section style='height:1000px;background:#ff0'><div class=code><div style='height:2000px'></div></div>"
                  "</section>" + sections(16) + "</main><footer></footer></div>"),
         20294, 94, 1000, 20, {10, 1270}},
        // A body that hides its overflow, the box in a column below a header.
        {"hidden-body",
         page("html, body { height: 100% } body { display: flex; flex-direction: column; overflow: hidden } header {"
              " height: 60px; flex: none; background: #333 } main { flex: 1; overflow: auto }",
              "<header></header><main>" + sections(20) + "</main>"),
         20060, 60, 1000, 20, {10, 1270}},
        // A pane placed against the screen beside a fixed side bar, its scroll bar always shown.
        {"pane",
         page("#side { position: fixed; top: 0; left: 0; width: 200px; bottom: 0; background: #888 } #content {"
              " position: absolute; top: 0; left: 200px; right: 0; bottom: 0; overflow-y: scroll }",
              "<div id=side></div><div id=content>" + sections(20) + "</div>"),
         20000, 0, 1000, 20, {210, 1250}},
        // A side tree beside the content, which holds a frame wider than the screen.
        {"wide",
         page("body { overflow: hidden } #side-nav { position: absolute; left: 0; top: 0; bottom: 0; width: 260px;"
              " overflow: auto; background: #888 } #doc-content { margin-left: 260px; height: 100vh; overflow: auto }",
              "<div id=side-nav><div style='height:3000px'></div></div><div id=doc-content>" + sections(8) +
                  "<iframe style='display:block;border:0' width=3758 height=400 srcdoc=\"<body style='margin:0;"
                  "background:#0ff'>\"></iframe></div>"),
         8400, 0, 1000, 8, {270, 1270}, 1004},
    };
    const auto whole = checkAll(layouts);
    const auto screens = batch(layouts, {"--no-expand"});
    for (const auto& l : layouts) {
        if (!whole.count(l.name) || !screens.count(l.name)) continue;
        const auto& a = whole.at(l.name).picture;
        const auto& b = screens.at(l.name).picture;
        EXPECT_NE(whole.at(l.name).report.at("message").find("the box was let out"), std::string::npos) << l.name;
        EXPECT_EQ(screens.at(l.name).report.at("message"), "") << l.name;
        ASSERT_TRUE(a && b) << l.name;
        ASSERT_EQ(b->height, 1024) << l.name;
        EXPECT_EQ(differences(*a, *b, l.fold, 1264), 0) << l.name;
    }
}

// What the page hides stays hidden: a drawer moved off the screen is not let out in
// place of the shell, what a parent of the box clipped stays clipped, navigation placed
// past the right edge of a page that hides its sideways overflow does not widen it
// (left to right and right to left), and a scroller in an open dialog is left as the
// screen shows it, over its dimmed page.
TEST_F(LetOut, WhatThePageHidesStaysHidden) {
    const std::string drawer = "<div style='position:fixed;left:0;top:0;bottom:0;width:300px;transform:translateX(-100%);"
                               "overflow:auto;background:#f0f'>" + std::string(300, 'x') +
                               "<div style='height:9000px'></div></div>";
    const std::string offCanvas = "body { overflow-x: hidden } nav { position: absolute; top: 0; right: -400px; width: 400px;"
                                  " height: 1000px; background: #f0f }";
    const std::vector<Layout> layouts = {
        {"drawer", page(kRowCss, kRowShell + drawer), 20064, 64, 1000, 20, {210, 1270}},
        {"clipped",
         page(".wrap { position: relative; height: 100vh; overflow: hidden } main { height: 100%; overflow: auto }"
              " .deco { position: absolute; right: -300px; top: 200px; width: 600px; height: 600px; border-radius: 50%;"
              " background: #f0f }",
              "<div class=wrap><main>" + sections(20) + "</main><div class=deco></div></div>"),
         20000, 0, 1000, 20, {10}},
        {"off-canvas", page(offCanvas, sections(3) + "<nav></nav>"), 3000, 0, 1000, 3, {10, 1270}},
        {"off-canvas-rtl", "<!doctype html><html dir=rtl><style>body { margin: 0 } " + offCanvas + "</style><body>" +
                               sections(3) + "<nav></nav></body></html>",
         3000, 0, 1000, 3, {10, 1270}},
    };
    const auto taken = checkAll(layouts);
    // The circle shows as far as its parent showed it, at the screen's right edge.
    if (taken.count("clipped") && taken.at("clipped").picture) {
        EXPECT_EQ(taken.at("clipped").picture->at(1275, 500), 0xff00ffu);
    }

    server.serve("/dialog", page("body { background: #0f0 } .backdrop { position: fixed; inset: 0; background: rgba(0, 0, 0, .5) }"
                                 " [role=dialog] { margin: 100px auto; width: 600px; height: 500px; overflow: auto;"
                                 " background: #fff }",
                                 "<p>The page</p><div class=backdrop><div role=dialog aria-modal=true>" + sections(4) +
                                     "</div></div>"));
    const auto s = shot(server.url("/dialog"));
    ASSERT_EQ(s.run.status, 0) << s.run.err;
    EXPECT_EQ(s.run.err, "");
    ASSERT_EQ(s.picture->height, 1024);
    EXPECT_NEAR(static_cast<int>(s.picture->at(10, 1000)), 0x008000, 0x0100) << "the dimmed page";
    EXPECT_EQ(s.picture->at(640, 500), kColours[0]) << "the dialog's first section";
}

// Shells found where they hide: a document that scrolls a little more than the screen
// (its body's margin), a shell inside a shadow root, and a frame under a header that
// fills the rest of the screen.
TEST_F(LetOut, ShellsAreFoundWhereverTheyAre) {
    server.serve("/framed", page("", sections(20)));
    const std::vector<Layout> layouts = {
        {"margin", "<!doctype html><style>html, body { height: 100% } " + kRowCss + " .app { height: 100% }</style>" +
                       kRowShell, 20080, 72, 1000, 20, {220, 1260}},
        {"shadow", page("", "<div id=host></div><script>document.getElementById('host').attachShadow({mode: 'open'})"
                            ".innerHTML = `<style>" + kRowCss + "</style>" + kRowShell + "`</script>"),
         20064, 64, 1000, 20, {210, 1270}},
        {"frame", page("header { height: 64px; background: #333 } iframe { display: block; border: 0; width: 100%;"
                       " height: calc(100vh - 64px) }",
                       "<header></header><iframe src=/framed></iframe>"),
         20064, 64, 1000, 20, {10, 1270}},
    };
    checkAll(layouts);
}

}  // namespace
