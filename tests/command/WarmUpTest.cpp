// The warm-up shows a page's scripts what they wait to see as they see it: observers
// with margins and thresholds, on the page or on a box that scrolls; boxes that load
// what their own scrolling shows; images left to load when near, in shadow roots or
// added late; frames; reveals driven by an element's coming into view; pages that
// scroll smoothly or snap. Pages over loopback, colours read back.
#include <fstream>

#include "tests/command/PageShots.h"
#include "tests/support/ServiceProcess.h"

namespace {

constexpr std::uint32_t kGreen = 0x00ff00, kBlue = 0x0000ff;

// A feed that adds a 2000 px block, green and blue in turn, each time its observer sees
// the mark below them, with `margin` around its root: the page, or a box filling it.
std::string feed(const std::string& margin, bool inBox) {
    return std::string("<!doctype html><body style='margin:0'>") +
           (inBox ? "<div id=box style='height:100vh;overflow:auto'>" : "") +
           "<div id=list></div><div id=mark style='height:10px'></div>" + (inBox ? "</div>" : "") +
           "<script>let n = 0; function more() { const d = document.createElement('div');"
           "d.style.cssText = 'height:2000px;background:' + (n++ % 2 ? '#00f' : '#0f0'); list.appendChild(d); }"
           "more(); new IntersectionObserver(es => { if (es[es.length - 1].isIntersecting) more(); },"
           "{ root: " + (inBox ? "box" : "null") + ", rootMargin: '" + margin + "' }).observe(mark);</script>";
}

// `count` 900 px boxes (twelve) in a box below a 64 px header, red until `shows` has them green.
std::string shell(const std::string& shows, int count = 12) {
    std::string html = "<!doctype html><style>body { margin: 0; display: flex; flex-direction: column; height: 100vh }"
                       "header { height: 64px; flex: none; background: #008 } main { flex: 1; overflow: auto }"
                       ".b { height: 900px; margin-bottom: 100px; background: #f00 } .b.on { background: #0f0 }"
                       "</style><body><header></header><main id=m>";
    for (int i = 0; i < count; ++i) html += "<div class=b></div>";
    return html + "</main><script>" + shows + "</script>";
}

// The box's own scroll listener shows what comes within 200 px of its end.
const std::string kLookAsItScrolls =
    "const look = () => { const r = m.getBoundingClientRect(); document.querySelectorAll('.b:not(.on)').forEach(b => {"
    " const q = b.getBoundingClientRect(); if (q.top < r.bottom + 200 && q.bottom > r.top) b.classList.add('on'); }); };"
    "m.addEventListener('scroll', look); look();";
const std::string kBoxListener = shell(kLookAsItScrolls);

// The page's observer (of the page's screen) shows each box it sees.
const std::string kBoxObserver = shell(
    "const o = new IntersectionObserver(es => es.forEach(e => { if (e.isIntersecting) {"
    " e.target.classList.add('on'); o.unobserve(e.target); } })); document.querySelectorAll('.b').forEach(b => o.observe(b));");

// Nine lazy images of 100 px, one every 1500 px, put in by `put` (given their markup).
std::string lazyImages(const std::string& put, const std::string& tag) {
    return "<!doctype html><body style='margin:0'><div id=h></div><script>let s = '';"
           "for (let i = 0; i < 9; i++) s += \"<div style='height:1500px'><img loading=lazy width=100 height=100 "
           "src='/dot.svg?" + tag + "\" + i + \"'></div>\";" + put + "</script>";
}

// Sections that turn green once their observer (with `options`) sees them.
std::string observed(const std::string& style, const std::string& options, int count) {
    std::string html = "<!doctype html><style>body { margin: 0 } section { background: #f00 } section.on { "
                       "background: #0f0 } " + style + "</style><body>";
    for (int i = 0; i < count; ++i) html += "<section></section>";
    return html + "<script>const o = new IntersectionObserver(es => es.forEach(e => { if (e.isIntersecting) {"
                  "e.target.classList.add('on'); o.unobserve(e.target); } }), " + options + ");"
                  "document.querySelectorAll('section').forEach(s => o.observe(s));</script>";
}

class WarmUp : public support::PageShots {
protected:
    void SetUp() override {
        server.serve("/dot.svg", "<svg xmlns='http://www.w3.org/2000/svg' width='100' height='100'><rect "
                                 "width='100' height='100' fill='#0f0'/></svg>");
        server.serve("/box-listener", kBoxListener);
    }
};

TEST_F(WarmUp, FollowsAFeedWhoseObserverHasMarginsOnThePageOrOnABox) {
    // The page adds a block at once each time: without the margins the warm-up takes
    // the mark it scrolled to before the page's observer saw it gone for seen anew.
    struct Case {
        std::string margin;
        bool inBox;
    };
    const Case cases[] = {{"1500px", false}, {"150%", false}, {"1500px", true}, {"120%", true}};
    for (const auto& c : cases) {
        const std::string path = std::string("/feed") + (c.inBox ? "-box" : "");
        server.serve(path, feed(c.margin, c.inBox));
        const auto s = shot(server.url(path), {"--timeout=8"});
        const std::string what = path + " " + c.margin;
        EXPECT_EQ(s.run.status, 7) << what << ": " << s.run.err;
        EXPECT_NE(s.run.err.find("the page kept growing"), std::string::npos) << what << ": " << s.run.err;
        ASSERT_TRUE(s.picture) << what;
        EXPECT_GT(s.picture->height, 8000) << what;
        for (int y = 500; y < s.picture->height - 2000; y += 3000)
            EXPECT_EQ(s.picture->at(10, y), (y / 2000) % 2 ? kBlue : kGreen) << what << " at " << y;
    }
}

TEST_F(WarmUp, ShowsEachKindOfContentThatWaitsToBeSeenInOneBatch) {
    server.serve("/box-observer", kBoxObserver);
    // Taller than a growing page is followed, yet not growing.
    server.serve("/box-tall", shell(kLookAsItScrolls, 53));
    server.serve("/shadow", lazyImages("h.attachShadow({ mode: 'open' }).innerHTML = s;", "s"));
    server.serve("/late", lazyImages("onload = () => setTimeout(() => { h.innerHTML = s; }, 100);", "l"));
    server.serve("/inner", "<!doctype html><body style='margin:0;background:#f00'><div id=t style='height:300px'></div>"
                           "<script>new IntersectionObserver(es => { if (es[0].isIntersecting) "
                           "document.body.style.background = '#0f0'; }).observe(t);</script>");
    server.serve("/frame", "<!doctype html><body style='margin:0'><div style='height:6000px'></div><iframe src='/inner' "
                           "style='border:0;width:400px;height:300px;display:block'></iframe><div style='height:500px'>");
    server.serve("/threshold", observed("section { height: 1000px; margin-bottom: 200px }", "{ threshold: 0.6 }", 8));
    std::string reveal = "<!doctype html><style>body { margin: 0 } @keyframes in { from { opacity: 0 } }"
                         ".k { height: 800px; margin-bottom: 200px; background: #0f0; animation: in linear both;"
                         " animation-timeline: view(); animation-range: entry 0% cover 40% }</style><body>";
    for (int i = 0; i < 10; ++i) reveal += "<div class=k></div>";
    server.serve("/reveal", reveal);
    // A header that turns small and red once the page is scrolled from its top.
    server.serve("/smooth", "<!doctype html><style>html { scroll-behavior: smooth } body { margin: 0 } header {"
                            " position: fixed; top: 0; left: 0; right: 0; height: 200px; background: #00f }"
                            " header.small { height: 50px; background: #f00 }</style><body><header id=h></header>"
                            "<div style='height:8000px;background:#fff'></div><script>addEventListener('scroll', () =>"
                            " h.classList.toggle('small', scrollY > 0));</script>");
    server.serve("/snap", observed("html { scroll-snap-type: y mandatory } section { height: 100vh; "
                                   "scroll-snap-align: start }", "{}", 8));
    struct Case {
        std::string path;
        std::vector<std::pair<int, int>> green;  // and blue, for the header
        std::vector<std::pair<int, int>> blue = {};
    };
    const Case cases[] = {
        {"/box-listener", {{10, 100}, {10, 5100}, {10, 11100}}},
        {"/box-observer", {{10, 100}, {10, 5100}, {10, 11100}}},
        {"/box-tall", {{10, 100}, {10, 26100}, {10, 52100}}},
        {"/shadow", {{50, 50}, {50, 4550}, {50, 12050}}},
        {"/late", {{50, 50}, {50, 4550}, {50, 12050}}},
        {"/frame", {{50, 6100}}},
        {"/threshold", {{300, 100}, {300, 3700}, {300, 8500}}},
        {"/reveal", {{50, 100}, {50, 3100}, {50, 9100}}},
        {"/smooth", {}, {{10, 20}, {10, 150}}},
        {"/snap", {{300, 50}, {300, 3122}, {300, 7218}}},
    };
    std::string list;
    for (const auto& c : cases) list += server.url(c.path) + "\n";
    std::ofstream(out.path("list.txt")) << list;
    std::filesystem::create_directory(out.path("shots"));
    const auto r = support::runCommand({VEMO_SHOT, "--list", out.path("list.txt"), "--out-dir", out.path("shots")});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err.find("kept growing"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("still loading"), std::string::npos) << r.err;
    const std::string prefix = out.path("shots") + "/127.0.0.1_" + std::to_string(server.port()) + "_";
    for (const auto& c : cases) {
        const auto p = support::readPicture(prefix + c.path.substr(1) + ".png");
        ASSERT_TRUE(p) << c.path;
        for (const auto& [x, y] : c.green) EXPECT_EQ(p->at(x, y), kGreen) << c.path << " at " << y;
        for (const auto& [x, y] : c.blue) EXPECT_EQ(p->at(x, y), kBlue) << c.path << " at " << y;
    }
}

TEST_F(WarmUp, TheServiceShowsWhatABoxLoadsAsItScrolls) {
    support::ServiceProcess service({"--jobs=1", "--allow-private"});
    const auto r = service.get(support::shotOf(server.url("/box-listener")));
    ASSERT_EQ(r.status, 200) << r.body << service.log();
    const auto p = support::answerPicture(r, "png");
    ASSERT_TRUE(p);
    for (int y = 100; y < 12000; y += 1000) EXPECT_EQ(p->at(10, y), kGreen) << y;
}

}  // namespace
