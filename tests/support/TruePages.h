// Pages whose picture a whole-document paint gets wrong unless it is put right, each
// with its known truth: the picture's size and colours at chosen points. Shared by every
// face's tests.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace support {

struct Probe {
    int x = 0, y = 0;
    std::uint32_t colour = 0;  // 0xRRGGBB
    int tolerance = 0;         // per channel, for gradients
    std::string what;          // what it shows, for failures
};

struct TruePage {
    std::string name;  // also its path on a test server: "/" + name
    std::string html;
    int width = 0, height = 0;
    std::vector<Probe> probes;
};

// One page a family: viewport units, strips, zoom in and out, right to left, fixed backgrounds
// (on elements, and the page's own), scroll bars of the page's style, a body pulled up by a
// negative margin.
std::vector<TruePage> truePages();
TruePage truePage(const std::string& name);

// A red section the measurement shows (it renders only when seen) over a green block of
// `tall` px the page cuts to 1000 px when that section's style changes (`once`), or by
// 1000 px at each change. Past 32767 px the page is painted in strips.
std::string changingPage(bool once, int tall = 6000);

// What is wrong with a picture of `page`, read through `at(x, y)` (0xRRGGBB); empty when nothing is.
std::string mismatch(const TruePage& page, int width, int height, const std::function<std::uint32_t(int, int)>& at);

}  // namespace support
