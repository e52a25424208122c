// Documents that scroll themselves rather than a box of theirs are photographed whole
// and said nothing of; and the service lets out as the command does.
#include <string>
#include <utility>
#include <vector>

#include "tests/command/LetOutPages.h"
#include "tests/support/ServiceProcess.h"

namespace {

using namespace letout;

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
