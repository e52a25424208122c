// Painting a page taller than one engine picture (32767 px) in strips.
//
// The page keeps the layout of its screen-sized view. For each strip the root element
// gets layout containment, which makes the document exactly as tall as the root's own
// box; the root is shifted up by the strip's top and its box made to end at the
// strip's end, so one whole-document paint holds the strip in its first rows.
// Before the first strip the page is readied once: scrolled to the top, sticky
// elements pinned where they sit in the flow, and fixed elements and elements placed
// against the page pinned where a whole-document paint shows them. Sections that
// render only when seen are shown from the measurement on, so that the page is
// measured and painted at its true size, and what a whole-document paint gets wrong is
// put right (capture/PageFixes.h). The page's size is measured in the screen's pixels,
// however the page is zoomed. Afterwards every style is put back.
#pragma once

#include <string>
#include <vector>

namespace capture {

// The largest side of one engine picture.
inline constexpr int kLargestPaint = 32767;
// Rows a strip: large enough to be fast, small enough to keep little in flight.
inline constexpr int kStripHeight = 8192;

struct Strip {
    int top = 0;     // the strip's first row in the page
    int height = 0;  // its rows
};

// The strips that cover a page `height` rows high, `stripHeight` rows each (the last shorter).
std::vector<Strip> planStrips(int height, int stripHeight = kStripHeight);

// The scripts below run in the engine's own script world (engine/Scripting.h), and
// reply with plain values.
//
// Stops a warm-up under way, shows the sections that render only when seen (until the
// paint's end), and replies with the body's metrics, eight numbers in the order of
// capture::BodyMetrics; null without a body.
std::string measureScript();
// Readies the page for strips; replies with the root element's top margin, or null
// when there is no document.
std::string stripsBeginScript(int pageHeight);
// Readies the page for one whole-document paint (sections that render only when seen
// shown, if the measurement has not); replies as stripsBeginScript does.
std::string paintBeginScript();
// Lays out strip `s`; replies with the document's height, which forces the layout.
std::string stripScript(const Strip& s);
// Puts back every style the measurement and the strips changed, and the scroll position.
std::string stripsEndScript();
// After the paint's end: replies as measureScript does, and puts back what it changed.
std::string measureAgainScript();

}  // namespace capture
