#include "shot/Paper.h"

#include <langinfo.h>

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <vector>

#include "shot/Messages.h"
#include "shot/OptionFit.h"
#include "shot/Options.h"

namespace shot {

namespace {

constexpr double kPointsPerMm = 72 / 25.4;
constexpr double kLargest = 14400;  // points: 200 in, the largest page common readers open

std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

// Lengths separated by `separator`, in points; empty when one is not a length.
std::vector<double> lengths(const std::string& text, char separator) {
    std::vector<double> values;
    std::vector<double> perUnit;  // how many points each value's unit is, 0: none given
    const char *at = text.data(), *end = text.data() + text.size();
    for (;;) {
        double v = 0;
        const auto [next, error] = std::from_chars(at, end, v);
        if (error != std::errc() || next == at || !(v >= 0)) return {};
        at = next;
        double unit = 0;
        for (const auto& [name, points] : {std::pair{"mm", kPointsPerMm}, {"cm", 10 * kPointsPerMm}, {"in", 72.0}})
            if (end - at >= 2 && lower(std::string(at, 2)) == name) {
                unit = points;
                at += 2;
            }
        values.push_back(v);
        perUnit.push_back(unit);
        if (at == end) break;
        if (*at++ != separator) return {};
    }
    double unit = kPointsPerMm;
    for (std::size_t i = values.size(); i-- > 0;) {
        if (perUnit[i] > 0) unit = perUnit[i];
        values[i] *= unit;
    }
    return values;
}


}  // namespace

std::optional<Paper> paperNamed(const std::string& name) {
    const auto n = lower(name);
    if (n == "page") return Paper{};
    const std::pair<const char*, Paper> named[] = {
        {"a3", {297 * kPointsPerMm, 420 * kPointsPerMm}}, {"a4", {210 * kPointsPerMm, 297 * kPointsPerMm}},
        {"a5", {148 * kPointsPerMm, 210 * kPointsPerMm}}, {"letter", {612, 792}},
        {"legal", {612, 1008}},                           {"tabloid", {792, 1224}},
    };
    for (const auto& [word, paper] : named)
        if (n == word) return paper;
    const auto sides = lengths(n, 'x');
    // At least an inch a side, at most the largest page readers open.
    if (sides.size() != 2 || std::min(sides[0], sides[1]) < 72 || std::max(sides[0], sides[1]) > kLargest)
        return std::nullopt;
    return Paper{sides[0], sides[1]};
}

std::optional<std::array<double, 4>> marginsOf(const std::string& text) {
    const auto m = lengths(text, ',');
    if (m.empty() || m.size() > 4 || *std::max_element(m.begin(), m.end()) > kLargest / 2) return std::nullopt;
    switch (m.size()) {
        case 1: return std::array<double, 4>{m[0], m[0], m[0], m[0]};
        case 2: return std::array<double, 4>{m[0], m[1], m[0], m[1]};
        case 3: return std::array<double, 4>{m[0], m[1], m[2], m[1]};
        default: return std::array<double, 4>{m[0], m[1], m[2], m[3]};
    }
}

Paper paperForLocale(int widthMm, int heightMm) {
    // Letter is 215.9 x 279.4 mm; locales round it either way.
    if (std::abs(widthMm - 216) <= 1 && std::abs(heightMm - 279) <= 1) return *paperNamed("letter");
    return *paperNamed("a4");
}

Paper localePaper() {
    const auto width = static_cast<int>(reinterpret_cast<std::intptr_t>(nl_langinfo(_NL_PAPER_WIDTH)));
    const auto height = static_cast<int>(reinterpret_cast<std::intptr_t>(nl_langinfo(_NL_PAPER_HEIGHT)));
    return paperForLocale(width, height);
}

engine::PrintLayout printLayout(const Options& o) {
    engine::PrintLayout l;
    const Paper paper = o.paper ? *o.paper : localePaper();
    const bool onePage = paper.width <= 0;
    l.width = o.landscape ? paper.height : paper.width;
    l.height = o.landscape ? paper.width : paper.height;
    // One page as tall as the document is the screen's picture: no margin unless asked.
    if (o.margins) l.margins = *o.margins;
    else if (onePage) l.margins = {0, 0, 0, 0};
    l.backgrounds = o.backgrounds;
    return l;
}

std::string formatProblem(const Options& o) {
    const auto named = capture::formatForName(o.out);
    const bool pdf = (o.list.empty() && named ? *named : o.batchFormat) == capture::Format::Pdf;
    if (pdf) {
        for (const char* name : {"selector", "clip", "viewport", "transparent", "quality", "scale"})
            if (optionGiven(o, name))
                return format(tr("--%s does not go with a PDF: its pages are laid out for print, not painted"), name);
        if (o.landscape && o.paper && o.paper->width <= 0)
            return tr("--landscape does not go with --paper=page, which is as wide as the screen");
        const auto l = printLayout(o);
        if (l.width > 0 && (l.margins[1] + l.margins[3] > l.width - 72 || l.margins[0] + l.margins[2] > l.height - 72))
            return tr("the margins leave less than an inch of the paper to print on");
        return {};
    }
    for (const char* name : {"paper", "landscape", "margin", "backgrounds", "no-backgrounds"})
        if (optionGiven(o, name)) return format(tr("--%s goes with a PDF (a file ending in .pdf, or --format=pdf)"), name);
    // PNG and BMP are written without loss: no quality to choose.
    const auto picture = o.list.empty() && named ? *named : o.batchFormat;
    if (optionGiven(o, "quality") && (picture == capture::Format::Png || picture == capture::Format::Bmp))
        return format(tr("--quality goes with JPEG and WebP, not %s, which is written without loss"), capture::formatName(picture));
    return {};
}

}  // namespace shot
