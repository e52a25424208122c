// What a capture changes in a page before its photo, and which part of it it keeps:
// elements hidden or removed, styles and a script of the caller's, an element waited
// for, a page that scrolls inside a box let out to its whole content; an element, a
// clip or the first screen as the part photographed.
#pragma once

#include <array>
#include <atomic>
#include <optional>
#include <string>

namespace engine {

struct Adjustments {
    std::string waitFor;   // a selector: present and visible before the photo
    std::string hide, remove, style;  // selectors (lists), CSS
    std::string script;    // JavaScript, awaited when it gives a promise
    bool expand = true;    // a page that scrolls inside a box is let out
    std::string selector;  // the part: the first element matching
    std::optional<std::array<double, 4>> clip;  // or x, y, width, height in CSS pixels
    bool viewport = false;                      // or the first screen
    bool operator==(const Adjustments&) const = default;
    bool any() const {
        return !waitFor.empty() || !hide.empty() || !remove.empty() || !style.empty() || !script.empty() || expand ||
               !selector.empty() || clip || viewport;
    }
};

struct Adjusted {
    enum class Problem { None, NotAnswered, WaitedInVain, BadSelector, ScriptFailed, NoElement, OutsidePage };
    Problem problem = Problem::None;
    std::string detail;        // the selector, or the script's error
    bool expanded = false;     // a box was let out to its content
    bool reshaped = false;     // a box, or a body that scrolls, was let out: put back after the photo
    std::optional<std::array<long, 4>> part;  // x, y, width, height in CSS pixels of the page
};

}  // namespace engine
