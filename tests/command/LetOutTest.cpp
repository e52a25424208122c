// Pages that scroll inside a box, in the layouts pages use, photographed by the command:
// the box let out to its whole content, every section at the width the screen showed,
// the first screen as the screen showed it (the --no-expand picture), the page the
// screen's width. Pages served over loopback; pixels read back from the files.
#include <cstdint>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "tests/command/PageShots.h"
#include "tests/support/JsonFields.h"
#include "tests/support/ServiceProcess.h"

namespace {

const std::uint32_t kColours[] = {0xff0000, 0x00ff00, 0x0000ff, 0xffff00};
const char* const kCss[] = {"#f00", "#0f0", "#00f", "#ff0"};

// `count` sections of `height` px, in turn of the four colours, each with a heading.
std::string sections(int count, int height = 1000, const std::string& height_css = "") {
    std::string html;
    for (int i = 0; i < count; ++i)
        html += "<section style='height:" + (height_css.empty() ? std::to_string(height) + "px" : height_css) +
                ";background:" + kCss[i % 4] + "'><h2 style='margin:0'>Part " + std::to_string(i + 1) + "</h2></section>";
    return html;
}

std::string page(const std::string& css, const std::string& body) {
    return "<!doctype html><html><style>body { margin: 0 } " + css + "</style><body>" + body + "</body></html>";
}

// A 64 px header, a 200 px nav, and `main` beside it scrolling 20 sections.
const std::string kRowCss =
    ".app { display: flex; flex-direction: column; height: 100vh } header { height: 64px; flex: none; background: #333 }"
    " .row { display: flex; flex: 1; min-height: 0 } nav { width: 200px; background: #888 } main { flex: 1; overflow: auto }";
const std::string kRowShell = "<div class=app><header></header><div class=row><nav></nav><main>" + sections(20) + "</main></div></div>";

// A line of code wider than any screen, at the top of a box.
const std::string kWide = "<pre style='margin:0;height:0;overflow:visible'>" + std::string(600, 'x') + "</pre>";

struct Layout {
    std::string name, html;
    int height;                // the picture's
    int top, section, count;   // where the sections start, their height, how many
    std::vector<int> xs;       // columns where every section shows its colour
    int fold = 1024;           // the bottom of the box on the screen, above a sideways scroll bar
};

// How much of the first screen, down to `fold` (above the box's sideways scroll bar),
// differs from the --no-expand picture, but for the columns of the box's scroll bar
// (`barFrom` on).
int differences(const support::Picture& a, const support::Picture& b, int fold, int barFrom) {
    int n = 0;
    for (int y = 0; y < fold; y += 4)
        for (int x = 0; x < barFrom; x += 4) n += a.at(x, y) != b.at(x, y);
    return n;
}

struct Taken {
    std::map<std::string, std::string> report;
    std::optional<support::Picture> picture;
};

class LetOut : public support::PageShots {
protected:
    // Every layout photographed in one batch of the command: its report line and its
    // picture, by the layout's name.
    std::map<std::string, Taken> batch(const std::vector<Layout>& layouts, const std::vector<std::string>& args) {
        const std::string dir = "shots" + std::to_string(++batches_);
        std::ofstream list(out.path(dir + ".txt"));
        for (const auto& l : layouts) {
            server.serve("/" + l.name, l.html);
            list << server.url("/" + l.name) << "\n";
        }
        list.close();
        std::vector<std::string> argv = {VEMO_SHOT, "--list", out.path(dir + ".txt"), "--out-dir", out.path(dir),
                                         "--report", out.path(dir + ".jsonl")};
        argv.insert(argv.end(), args.begin(), args.end());
        const auto run = support::runCommand(argv);
        EXPECT_EQ(run.status, 0) << run.err;
        std::map<std::string, Taken> taken;
        std::ifstream report(out.path(dir + ".jsonl"));
        for (std::string line; std::getline(report, line);) {
            auto fields = support::jsonFields(line);
            const auto name = fields["address"].substr(fields["address"].rfind('/') + 1);
            auto picture = support::readPicture(fields["file"]);
            taken[name] = {std::move(fields), std::move(picture)};
        }
        return taken;
    }
    // Each layout's picture: whole, at the screen's width, every section in its colour.
    std::map<std::string, Taken> checkAll(const std::vector<Layout>& layouts, const std::vector<std::string>& args = {}) {
        auto taken = batch(layouts, args);
        for (const auto& l : layouts) {
            if (!taken.count(l.name)) {
                ADD_FAILURE() << l.name << " not in the report";
                continue;
            }
            const auto& t = taken.at(l.name);
            EXPECT_EQ(t.report.at("status"), "ok") << l.name << ": " << t.report.at("message");
            if (!t.picture) {
                ADD_FAILURE() << l.name << ": no picture";
                continue;
            }
            expectWhole(l, *t.picture);
        }
        return taken;
    }
    static void expectWhole(const Layout& l, const support::Picture& p) {
        EXPECT_EQ(p.width, 1280) << l.name;
        EXPECT_EQ(p.height, l.height) << l.name;
        for (int i = 0; i < l.count; ++i)
            for (const int x : l.xs)
                if (const int y = l.top + i * l.section + l.section / 2; y < p.height) {
                    EXPECT_EQ(p.at(x, y), kColours[i % 4]) << l.name << ": section " << i << " at x " << x;
                }
    }

private:
    int batches_ = 0;
};

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

// Sections grey until `load` (a script given `show`, which colours what the screen
// shows) has shown them.
std::string lazy(const std::string& css, const std::string& load) {
    return page(css + " section:not(.on) { background: #888 !important }",
                sections(8) + "<script>const show = () => document.querySelectorAll('section:not(.on)').forEach(s => {"
                              " const r = s.getBoundingClientRect(); if (r.top < innerHeight && r.bottom > 0)"
                              " s.classList.add('on'); }); " + load + "</script>");
}

const std::string kBodyScrolls = "html, body { height: 100%; overflow-x: hidden }";
const std::string kRootHidden = "html { overflow: hidden; height: 100% } body { height: 100%; overflow: auto }";
const std::string kBodyListens = "document.body.addEventListener('scroll', show); show();";
const std::string kObserved = "const o = new IntersectionObserver(es => es.forEach(e => { if (e.isIntersecting)"
                              " e.target.classList.add('on'); })); document.querySelectorAll('section').forEach(s => o.observe(s));";

// Documents that scroll themselves: in their body rather than as a whole (some loading
// what their body's scrolling shows), or as a whole beside a nav that scrolls on its own;
// and a plain page whose small scroller is no shell.
std::vector<Layout> selfScrolling() {
    return {
        {"hidden-x", page(kBodyScrolls, sections(8)), 8000, 0, 1000, 8, {10, 1270}},
        {"root-hidden", page("html { overflow: hidden } body { height: 100%; overflow: auto }", sections(8)), 8000, 0, 1000, 8,
         {10, 1270}},
        {"hidden-x-listens", lazy(kBodyScrolls, kBodyListens), 8000, 0, 1000, 8, {10, 1270}},
        {"root-hidden-listens", lazy(kRootHidden, kBodyListens), 8000, 0, 1000, 8, {10, 1270}},
        {"hidden-x-observed", lazy(kBodyScrolls, kObserved), 8000, 0, 1000, 8, {10, 1270}},
        {"root-hidden-observed", lazy(kRootHidden, kObserved), 8000, 0, 1000, 8, {10, 1270}},
        {"side-nav", page("nav { position: fixed; top: 0; left: 0; bottom: 0; width: 200px; overflow: auto; background: #888 }"
                          " body { margin-left: 200px }", "<nav><div style='height:5000px'></div></nav>" + sections(3)),
         3000, 0, 1000, 3, {210, 1270}},
        {"plain", page("", "<div style='height:600px;overflow:auto'><div style='height:900px'></div></div>" + sections(3)),
         3600, 600, 1000, 3, {10, 1270}},
    };
}

// A document that scrolls in its body is the document scrolling: photographed whole,
// with --no-expand too, and nothing said of a box; one that scrolls as a whole keeps its
// side nav as the screen shows it, and a plain page its small scroller.
TEST_F(LetOut, DocumentsThatScrollThemselvesArePhotographedWhole) {
    const auto layouts = selfScrolling();
    for (const std::vector<std::string>& args : {std::vector<std::string>{}, {"--no-expand"}})
        for (const auto& [name, t] : checkAll(layouts, args)) EXPECT_EQ(t.report.at("message"), "") << name;
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

// The service lets out as the command does: a shell, and a document that scrolls in its
// body, loading what that shows, with expand on and off.
TEST_F(LetOut, TheServiceLetsOutAsTheCommandDoes) {
    const Layout row{"row", page(kRowCss, kRowShell), 20064, 64, 1000, 20, {210, 1270}};
    const Layout body = selfScrolling()[2];  // loads what its body's scrolling shows
    for (const auto* l : {&row, &body}) server.serve("/" + l->name, l->html);
    support::ServiceProcess service({"--jobs=1", "--allow-private"});
    for (const auto& [l, more] : std::vector<std::pair<const Layout*, std::string>>{
             {&row, ""}, {&body, ""}, {&body, "&expand=false"}}) {
        const auto r = service.get(support::shotOf(server.url("/" + l->name), more));
        ASSERT_EQ(r.status, 200) << l->name << more << ": " << r.body;
        const auto p = support::answerPicture(r, "png");
        ASSERT_TRUE(p) << l->name;
        expectWhole(*l, *p);
    }
}

}  // namespace
