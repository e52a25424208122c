// The controls of one window by name, one map a control family; shared by every
// implementation of a window.
#pragma once

#include <map>
#include <memory>
#include <stdexcept>
#include <string>

namespace platform {

template <class Label, class Image, class TextBox, class ScrollBar, class PictureBox, class Browser, class Timer>
struct ControlRegistry {
    template <class T>
    using Map = std::map<std::string, std::unique_ptr<T>>;

    Map<Label> labels;
    Map<Image> images;
    Map<TextBox> texts;
    Map<ScrollBar> bars;
    Map<PictureBox> pictures;
    Map<Browser> browsers;
    Map<Timer> timers;

    // The control of that name; a name the design does not have is a programming error.
    template <class T>
    static T& find(const Map<T>& m, const std::string& name) {
        auto it = m.find(name);
        if (it == m.end()) throw std::out_of_range("no control " + name);
        return *it->second;
    }
};

}  // namespace platform
