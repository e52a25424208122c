// Scrolling through a page once before its photo, so that images and sections its
// own scripts load only when scrolled to are in place.
#pragma once

namespace capture {

// The body of an async function taking `ms`, its time limit: scrolls through the page
// a screen at a time (a rendering update or a tenth of a second a screen), back to the
// top, and waits for the images that started loading on the way. A measurement of the
// page stops a warm-up under way (window.__vemoWarm.stop()).
extern const char* const kWarmUpScript;
// The longest a warm-up scrolls.
inline constexpr int kWarmUpLimitMs = 10000;

}  // namespace capture
