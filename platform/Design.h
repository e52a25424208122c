// Window designs: the fixed data every window and control is built from.
// Geometry is in twips for windows and the controls placed directly on them,
// and in pixels for controls that live inside a picture box.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace platform {

struct Rgb {
    std::uint8_t r = 0, g = 0, b = 0;
    bool operator==(const Rgb&) const = default;
};

// A colour is either a fixed RGB triple or one of the desktop's scheme colours.
enum class SchemeColour { None, WindowBackground, WindowText, MenuText };

struct Colour {
    SchemeColour scheme = SchemeColour::None;
    Rgb rgb{};
    static Colour of(std::uint8_t r, std::uint8_t g, std::uint8_t b) { return {SchemeColour::None, {r, g, b}}; }
    static Colour system(SchemeColour s) { return {s, {}}; }
    bool operator==(const Colour&) const = default;
};

// Every font of the program is 宋体 in one of two sizes.
struct FontDesign {
    double points = 9.0;
    bool bold = false;
    bool operator==(const FontDesign&) const = default;
};

enum class ControlKind { Timer, TextBox, HScrollBar, VScrollBar, PictureBox, Browser, Image, Label };

enum class Pointer { Default, Move, Help };

struct ControlDesign {
    std::string name;
    ControlKind kind = ControlKind::Label;
    int left = 0, top = 0, width = 0, height = 0;  // twips, or pixels inside a picture box
    std::string container;                         // empty: the window itself
    std::string text;                              // caption of a label, text of a text box
    std::optional<Colour> fore;
    std::optional<Colour> back;
    std::optional<FontDesign> font;                // empty: the window's font
    bool visible = true;
    bool enabled = true;
    std::string picture;                           // resource name of an image's picture
    Pointer pointer = Pointer::Default;
    int intervalMs = 0;                            // timers
    int borderPx = 0;                              // picture boxes: thickness of the fixed border
    int stepValue = 0;                             // scroll bars: the arrow step
    bool acceptsDrops = false;                     // picture boxes
    bool eagerLoading = false;                     // browsers: load every image at once, not when scrolled to
    bool outOfSight = false;                       // browsers nobody sees: no keyboard, page dialogs answered at once
};

struct WindowDesign {
    std::string name;
    std::string caption;
    int left = 0, top = 0, width = 0, height = 0;  // twips: position and client size
    Colour back{};
    std::string picture;                           // background picture, drawn unscaled at the top left
    std::string icon;
    bool showInTaskbar = false;
    bool framed = false;
    FontDesign font{};
    std::vector<ControlDesign> controls;           // stacking order, the topmost first
};

}  // namespace platform
