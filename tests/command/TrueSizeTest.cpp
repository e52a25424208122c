// Pages whose sections render only when seen, on the real engine: measured and painted
// with every section at its true size, in one paint and in strips. Pages served over
// loopback; pixels read back from the files.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

#include "tests/support/Command.h"
#include "tests/support/GuiHarness.h"
#include "tests/support/HttpServer.h"

namespace {

constexpr int kSection = 300;

// Section i's own colour.
std::uint32_t colourOf(int i) { return static_cast<std::uint32_t>(i) << 16 | static_cast<std::uint32_t>(255 - i) << 8 | 0x40; }

// `count` sections that render only when seen, each said to be 5000 px tall until it
// is, and each 300 px of its own colour when it is.
std::string sections(int count) {
    std::string html = "<!doctype html><body style='margin:0'>";
    for (int i = 0; i < count; ++i) {
        char colour[16];
        std::snprintf(colour, sizeof colour, "#%06x", colourOf(i));
        html += std::string("<section style='content-visibility:auto;contain-intrinsic-size:5000px'>"
                            "<div style='height:") + std::to_string(kSection) + "px;background:" + colour + "'></div></section>";
    }
    return html;
}

TEST(TrueSize, SectionsThatRenderOnlyWhenSeenAreMeasuredAndPaintedAsTheyAre) {
    support::HttpServer server;
    support::TempDir out;
    // One paint, and strips (past 32767 px).
    for (const int count : {30, 150}) {
        const std::string path = "/sections" + std::to_string(count);
        server.serve(path, sections(count));
        const auto run = support::runCommand({VEMO_SHOT, server.url(path), out.path("p.png")});
        ASSERT_EQ(run.status, 0) << count << ": " << run.err;
        const auto picture = support::readPicture(out.path("p.png"));
        ASSERT_TRUE(picture) << count;
        EXPECT_EQ(picture->width, 1280) << count;
        ASSERT_EQ(picture->height, count * kSection) << count;
        for (int i = 0; i < count; ++i) {
            for (const int y : {i * kSection + 1, i * kSection + kSection / 2, (i + 1) * kSection - 2})
                ASSERT_EQ(picture->at(640, y), colourOf(i)) << count << " sections: section " << i << " at " << y;
        }
    }
}

}  // namespace
