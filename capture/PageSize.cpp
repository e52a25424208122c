#include "capture/PageSize.h"

#include <algorithm>

#include "capture/Image.h"
#include "capture/Strips.h"

namespace capture {

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

}  // namespace capture
