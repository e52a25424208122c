// Pages that scroll inside a box, in the layouts pages use, photographed by the command:
// the box let out to its whole content, every section at the width the screen showed,
// the first screen as the screen showed it (the --no-expand picture), the page the
// screen's width. Pages served over loopback; pixels read back from the files. The
// layouts' parts and the fixture that photographs them in batches.
#pragma once

#include <cstdint>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "tests/command/PageShots.h"
#include "tests/support/JsonFields.h"

namespace letout {

inline const std::uint32_t kColours[] = {0xff0000, 0x00ff00, 0x0000ff, 0xffff00};
inline const char* const kCss[] = {"#f00", "#0f0", "#00f", "#ff0"};

// `count` sections of `height` px, in turn of the four colours, each with a heading.
inline std::string sections(int count, int height = 1000, const std::string& height_css = "") {
    std::string html;
    for (int i = 0; i < count; ++i)
        html += "<section style='height:" + (height_css.empty() ? std::to_string(height) + "px" : height_css) +
                ";background:" + kCss[i % 4] + "'><h2 style='margin:0'>Part " + std::to_string(i + 1) + "</h2></section>";
    return html;
}

inline std::string page(const std::string& css, const std::string& body) {
    return "<!doctype html><html><style>body { margin: 0 } " + css + "</style><body>" + body + "</body></html>";
}

// A 64 px header, a 200 px nav, and `main` beside it scrolling 20 sections.
inline const std::string kRowCss =
    ".app { display: flex; flex-direction: column; height: 100vh } header { height: 64px; flex: none; background: #333 }"
    " .row { display: flex; flex: 1; min-height: 0 } nav { width: 200px; background: #888 } main { flex: 1; overflow: auto }";
inline const std::string kRowShell = "<div class=app><header></header><div class=row><nav></nav><main>" + sections(20) + "</main></div></div>";

// A line of code wider than any screen, at the top of a box.
inline const std::string kWide = "<pre style='margin:0;height:0;overflow:visible'>" + std::string(600, 'x') + "</pre>";

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
inline int differences(const support::Picture& a, const support::Picture& b, int fold, int barFrom) {
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

}  // namespace letout
