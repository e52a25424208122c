// A PDF's paper as the options name it, and the layout a request carries to the engine
// from the command and from a service's fields alike.
#include <gtest/gtest.h>

#include "capture/PrintOut.h"
#include "service/Request.h"
#include "shot/Options.h"
#include "shot/Paper.h"
#include "shot/Run.h"

namespace {

constexpr double kMm = 72 / 25.4;

TEST(Paper, NamesAndLengthsInTheirUnits) {
    const std::pair<const char*, std::optional<shot::Paper>> papers[] = {
        {"A4", shot::Paper{210 * kMm, 297 * kMm}}, {"letter", shot::Paper{612, 792}},
        {"Tabloid", shot::Paper{792, 1224}},       {"page", shot::Paper{}},
        {"100x150mm", shot::Paper{100 * kMm, 150 * kMm}}, {"8.5inx14in", shot::Paper{612, 1008}},
        {"10x20cm", shot::Paper{100 * kMm, 200 * kMm}},  {"200x300", shot::Paper{200 * kMm, 300 * kMm}}, {"2x3", std::nullopt},
        {"B5", std::nullopt}, {"0.5x3in", std::nullopt}, {"1x201in", std::nullopt}, {"100x", std::nullopt},
        {"x100mm", std::nullopt}, {"-100x100mm", std::nullopt}, {"100x100pt", std::nullopt},
    };
    for (const auto& [name, paper] : papers) {
        const auto got = shot::paperNamed(name);
        ASSERT_EQ(got.has_value(), paper.has_value()) << name;
        if (got) {
            EXPECT_NEAR(got->width, paper->width, 0.01) << name;
            EXPECT_NEAR(got->height, paper->height, 0.01) << name;
        }
    }
    using M = std::array<double, 4>;
    const std::pair<const char*, std::optional<M>> margins[] = {
        {"1in", M{72, 72, 72, 72}}, {"1in,2in", M{72, 144, 72, 144}}, {"1,2,3in", M{72, 144, 216, 144}},
        {"10mm,1cm,0,0.5in", M{10 * kMm, 10 * kMm, 0, 36}}, {"", std::nullopt}, {"1,2,3,4,5", std::nullopt},
        {"1in;2in", std::nullopt}, {"200in", std::nullopt},
    };
    for (const auto& [text, m] : margins) {
        const auto got = shot::marginsOf(text);
        ASSERT_EQ(got.has_value(), m.has_value()) << text;
        for (std::size_t i = 0; got && i < 4; ++i) EXPECT_NEAR((*got)[i], (*m)[i], 0.01) << text << " " << i;
    }
    // Letter where the locale's paper is Letter, as locales round it; A4 elsewhere.
    EXPECT_EQ(shot::paperForLocale(216, 279), *shot::paperNamed("Letter"));
    EXPECT_EQ(shot::paperForLocale(215, 279), *shot::paperNamed("Letter"));
    EXPECT_EQ(shot::paperForLocale(210, 297), *shot::paperNamed("A4"));
    EXPECT_EQ(shot::paperForLocale(0, 0), *shot::paperNamed("A4"));
}

TEST(Paper, TheCommandAndTheServiceAskTheSameLayout) {
    struct Case {
        std::vector<std::string> args;
        shot::Paper paper;  // as turned
        std::array<double, 4> margins;
        bool backgrounds = true;
    };
    const double cm = 10 * kMm;
    const Case cases[] = {
        {{"--paper=A5", "--landscape"}, {210 * kMm, 148 * kMm}, {cm, cm, cm, cm}},
        {{"--paper=page", "--no-backgrounds"}, {0, 0}, {0, 0, 0, 0}, false},
        {{"--paper=page", "--margin=1in"}, {0, 0}, {72, 72, 72, 72}},
        {{"--paper=Legal", "--margin=0", "--backgrounds"}, {612, 1008}, {0, 0, 0, 0}},
    };
    for (const auto& c : cases) {
        auto args = c.args;
        args.insert(args.begin(), "vemo-shot");
        args.insert(args.end(), {"http://a.example/", "a.pdf"});
        const auto parsed = shot::parseOptions(args);
        ASSERT_TRUE(parsed.options) << parsed.error;
        const auto command = shot::requestFor(*parsed.options, "http://a.example/");
        EXPECT_EQ(command.picture.format, capture::Format::Pdf);
        const engine::PrintLayout expected{c.paper.width, c.paper.height, c.margins, c.backgrounds};
        EXPECT_NEAR(command.print.width, expected.width, 0.01) << args[1];
        EXPECT_NEAR(command.print.height, expected.height, 0.01) << args[1];
        for (std::size_t i = 0; i < 4; ++i) EXPECT_NEAR(command.print.margins[i], c.margins[i], 0.01) << args[1];
        EXPECT_EQ(command.print.backgrounds, c.backgrounds) << args[1];

        service::Fields fields{{"url", {"http://a.example/"}}, {"format", {"pdf"}}};
        for (const auto& a : c.args) {
            const auto eq = a.find('=');
            const std::string name = a.substr(2, eq == std::string::npos ? std::string::npos : eq - 2);
            if (eq != std::string::npos) fields[name] = {a.substr(eq + 1)};
            else if (name.rfind("no-", 0) == 0) fields[name.substr(3)] = {"false"};
            else fields[name] = {"true"};
        }
        const auto served = service::requestFromFields(fields, {});
        ASSERT_TRUE(served.request) << served.error;
        EXPECT_TRUE(served.request->print == command.print) << args[1];
        EXPECT_EQ(served.request->picture.format, capture::Format::Pdf);
    }
    const auto refused = service::requestFromFields({{"url", {"http://a/"}}, {"format", {"pdf"}}, {"quality", {"5"}}}, {});
    EXPECT_FALSE(refused.request);
    EXPECT_NE(refused.error.find("--quality does not go with a PDF"), std::string::npos) << refused.error;
}

TEST(Paper, HeadingsFoundFurtherOnTakeWhatFollowsThemAlong) {
    // Pages of 1000 CSS px at 0.8 pt a pixel, without margins.
    capture::PrintOut printed("");
    printed.geometry = {600, 800, {0, 0, 0, 0}, 750, 6000, false};
    const std::pair<double, std::optional<capture::PagePoint>> headings[] = {
        {100, capture::PagePoint{0, 720}},  // where the layout put it
        {1200, capture::PagePoint{2, 805}},  // after a forced break; its text's top above the page's
        {1500, std::nullopt},               // not found: as far as the one before it
        {1900, capture::PagePoint{2, 80}},   // where the move before it puts it
        {2500, capture::PagePoint{4, 640}},  // further on again
    };
    capture::FoundHeadings found;
    for (const auto& [y, at] : headings) {
        printed.headings.push_back({2, "Heading", y});
        found.push_back(at);
    }
    for (double y : {50.0, 1300.0, 2600.0}) printed.links.push_back({"http://a.example/", 10, y, 50, 10});
    const auto placed = capture::placeAsFound(printed, found);
    const double ys[] = {100, 2000, 2300, 2700, 4200}, linkYs[] = {50, 2100, 4300};
    ASSERT_EQ(placed.headings.size(), std::size(ys));
    for (std::size_t i = 0; i < std::size(ys); ++i) EXPECT_NEAR(placed.headings[i].y, ys[i], 0.01) << i;
    ASSERT_EQ(placed.links.size(), std::size(linkYs));
    for (std::size_t i = 0; i < std::size(linkYs); ++i) EXPECT_NEAR(placed.links[i].y, linkYs[i], 0.01) << i;
}

}  // namespace
