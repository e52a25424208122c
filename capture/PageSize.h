// Measuring a page: what its body reports of its size, and the page size made of it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace capture {

// What a page's body reports of its size, in whole pixels, and the root element's
// scroll size beside it.
struct BodyMetrics {
    long scrollWidth = 0, offsetWidth = 0, clientWidth = 0;
    long scrollHeight = 0, offsetHeight = 0, clientHeight = 0;
    long rootScrollWidth = 0, rootScrollHeight = 0;
};

struct PageSize {
    double width = 0, height = 0;
};

// The page is the body's scroll size plus its borders and scroll bar; the body's
// scroll size leaves out its own margins, which the root element's scroll size
// includes, so the larger of the two counts.
PageSize pageSize(const BodyMetrics&);

// Why a picture of a page that size, in pixels, cannot be painted and held: wider than
// one engine picture, or needing more than the `available` memory (when known).
// Nothing when it can.
struct HoldLimit {
    enum class Kind { Width, Memory } kind = Kind::Width;
    std::uint64_t needed = 0, available = 0;  // bytes, for Memory
};
std::optional<HoldLimit> holdLimit(double width, double height, std::optional<std::uint64_t> available);

}  // namespace capture
