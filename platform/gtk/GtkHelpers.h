// Small helpers the GTK controls share.
#pragma once

#include <algorithm>

namespace platform::gtk {

// Runs handlers from a copy, so a handler may add others while they run.
template <class List, class... Args>
void fire(const List& handlers, Args... args) {
    const List copy = handlers;
    for (const auto& h : copy) h(args...);
}

// Widgets cannot be larger than the window system allows; the control keeps its
// own size beyond that.
inline constexpr int kLargestWidget = 32767;
inline int widgetSize(int v) { return std::clamp(v, 1, kLargestWidget); }

}  // namespace platform::gtk
