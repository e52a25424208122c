// A page printed by the engine, and the document made of it: the print-out's file with
// where its headings and links fell, made into a PDF with the page's title, address,
// time, outline and links.
#pragma once

#include <array>
#include <functional>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

namespace capture {

// The printed page's layout: CSS pixels of the page as laid out for print, and the
// paper in points. Every printed page holds `pageHeight()` CSS pixels of the document,
// `scale()` points each.
struct PrintGeometry {
    double paperWidth = 0, paperHeight = 0;  // points
    std::array<double, 4> margins{};         // top, right, bottom, left, in points
    double layoutWidth = 0;                  // CSS pixels across the printed width; 0: not known
    double layoutHeight = 0;                 // the document's height, in CSS pixels
    bool trimLast = false;                   // the last page ends where the document does

    double scale() const;       // points a CSS pixel
    double pageHeight() const;  // CSS pixels a page
    // The pages the document fills, at least one.
    int pages() const;
};

struct PrintedHeading {
    int level = 1;  // 1 to 3
    std::string text;
    double y = 0;  // its top in the printed layout, CSS pixels
};

struct PrintedLink {
    std::string target;  // an absolute address
    double x = 0, y = 0, width = 0, height = 0;  // in the printed layout, CSS pixels
};

// The engine's print-out, in a file of its own that goes with this value.
class PrintOut {
public:
    explicit PrintOut(std::string path) : path_(std::move(path)) {}
    ~PrintOut();
    PrintOut(const PrintOut&) = delete;
    PrintOut& operator=(const PrintOut&) = delete;

    const std::string& path() const { return path_; }
    PrintGeometry geometry;
    std::vector<PrintedHeading> headings;
    std::vector<PrintedLink> links;
    long long takenAt = 0;  // when it was printed, seconds since 1970

private:
    std::string path_;
};

// What the document says of itself.
struct DocumentFacts {
    std::string title, address;
    long long created = 0;  // seconds since 1970
};

// The date as a PDF writes it: D:YYYYMMDDHHmmSSZ, in UTC.
std::string pdfDate(long long secondsSince1970);

// A page's location in the printed document: its number (from 0) and the point's
// height from the page's bottom, in points; for a point of the layout at `y` CSS pixels.
struct PagePoint {
    int page = 0;
    double top = 0;
};
PagePoint placeOnPage(const PrintGeometry&, double y);

// Where the print-out put each heading, where it was found there (in order, one for each
// heading of `printed`).
using FoundHeadings = std::vector<std::optional<PagePoint>>;

// The headings and links of `printed` moved to where the print-out put them. A page break
// the page asks for, or a block kept whole on a page, moves what follows further down the
// print-out than the layout's height a page says: a heading found on another page than
// the layout puts it on is placed where it was found, and what follows it down to the next
// heading moves as far.
struct PrintedPlaces {
    std::vector<PrintedHeading> headings;
    std::vector<PrintedLink> links;
};
PrintedPlaces placeAsFound(const PrintOut& printed, const FoundHeadings& found);

// The document of `printed`: title, subject and keywords (the address), creation date,
// an outline of the headings and the links, each on the page where the print-out has it
// (`found`, else where the layout puts it); one copy of each embedded font, cut to the
// glyphs it shows; the last page trimmed to the document's end when asked. `found` is
// asked for once the print-out is read, so that the headings may be sought in it meanwhile.
struct Document {
    std::error_code error;
    int pages = 0;
    std::string bytes;
};
Document makeDocument(const PrintOut& printed, const DocumentFacts&, const std::function<FoundHeadings()>& found = {});

}  // namespace capture
