#include "capture/PageSize.h"

#include <algorithm>
#include <sstream>

#include "capture/Image.h"
#include "capture/Strips.h"

namespace capture {

const char* const kMeasureScript = R"JS(
(function () {
  if (window.__vemoWarm) window.__vemoWarm.stop();
  var b = document.body, r = document.documentElement;
  if (!b) return null;
  var cw = b.clientWidth, ch = b.clientHeight;
  if (document.compatMode === 'BackCompat') {
    var s = getComputedStyle(b);
    cw = b.offsetWidth - Math.round(parseFloat(s.borderLeftWidth) + parseFloat(s.borderRightWidth));
    ch = b.offsetHeight - Math.round(parseFloat(s.borderTopWidth) + parseFloat(s.borderBottomWidth));
  }
  return [b.scrollWidth, b.offsetWidth, cw, b.scrollHeight, b.offsetHeight, ch,
          r ? r.scrollWidth : 0, r ? r.scrollHeight : 0].join(',');
})())JS";

PageSize pageSize(const BodyMetrics& m) {
    return {static_cast<double>(std::max(m.scrollWidth + (m.offsetWidth - m.clientWidth), m.rootScrollWidth)),
            static_cast<double>(std::max(m.scrollHeight + (m.offsetHeight - m.clientHeight), m.rootScrollHeight))};
}

std::optional<HoldLimit> holdLimit(double width, double height, std::optional<std::uint64_t> available) {
    // The engine paints a page of any height, in strips, but no wider than one picture.
    if (width > kLargestPaint) return HoldLimit{HoldLimit::Kind::Width};
    const auto needed = imageBytes(static_cast<int>(width), static_cast<int>(std::min(height, 2e9)));
    if (available && needed > *available) return HoldLimit{HoldLimit::Kind::Memory, needed, *available};
    return std::nullopt;
}

std::optional<BodyMetrics> parseMetrics(const std::string& reply) {
    std::istringstream in(reply);
    long v[8];
    char comma = 0;
    for (int i = 0; i < 8; ++i) {
        if (!(in >> v[i])) return std::nullopt;
        if (i < 7 && !(in >> comma && comma == ',')) return std::nullopt;
    }
    if (in >> comma) return std::nullopt;  // more than eight
    return BodyMetrics{v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7]};
}

}  // namespace capture
