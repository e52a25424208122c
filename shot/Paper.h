// The paper a PDF is printed on, as the command's options name it: --paper, --landscape,
// --margin and --no-backgrounds, and which options go with a PDF and which do not.
#pragma once

#include <array>
#include <optional>
#include <string>

#include "engine/Shot.h"

namespace shot {

struct Options;

// A paper in points, standing (portrait); 0 x 0: one page as tall as the document.
struct Paper {
    double width = 0, height = 0;
    bool operator==(const Paper&) const = default;
};

// Lengths are numbers with mm, cm or in; one without a unit takes the next one's, or mm.
// A4, A3, A5, Letter, Legal, Tabloid (in any case), page, or WIDTHxHEIGHT; nothing for
// another word.
std::optional<Paper> paperNamed(const std::string&);
// TOP[,RIGHT,BOTTOM,LEFT] (one: all four; two: top and bottom, right and left; three: top,
// right and left, bottom), in points.
std::optional<std::array<double, 4>> marginsOf(const std::string&);
// The paper of a locale whose paper is `widthMm` x `heightMm` (LC_PAPER): Letter there,
// A4 everywhere else.
Paper paperForLocale(int widthMm, int heightMm);
// This process's locale's.
Paper localePaper();

// What the options ask of the printer.
engine::PrintLayout printLayout(const Options&);
// An option given that does not go with the file's format (a PDF, or a picture), or
// empty.
std::string formatProblem(const Options&);

}  // namespace shot
