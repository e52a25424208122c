#include "capture/PrintOut.h"

#include "capture/FontSubsets.h"

#include <qpdf/Buffer.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFExc.hh>
#include <qpdf/QPDFObjectHandle.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFWriter.hh>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <ctime>
#include <map>

namespace capture {

namespace {

using Object = QPDFObjectHandle;

// One entry of the outline, with the entries under it.
struct Entry {
    const PrintedHeading* heading = nullptr;
    Object object;
    std::vector<Entry> children;
};

Object destination(const Object& page, const PrintGeometry& g, double y) {
    const auto at = placeOnPage(g, y);
    Object dest = Object::newArray();
    dest.appendItem(page);
    dest.appendItem(Object::newName("/XYZ"));
    dest.appendItem(Object::newNull());
    dest.appendItem(Object::newReal(at.top, 2));
    dest.appendItem(Object::newNull());
    return dest;
}

// Links the entries of one level to each other and to their parent; the number of
// entries shown under the parent.
int linkLevel(QPDF& pdf, std::vector<Entry>& level, const Object& parent, const std::vector<Object>& pages,
              const PrintGeometry& g) {
    for (auto& e : level) {
        e.object = pdf.makeIndirectObject(Object::newDictionary());
        e.object.replaceKey("/Title", Object::newUnicodeString(e.heading->text));
        e.object.replaceKey("/Parent", parent);
        const int page = std::min(placeOnPage(g, e.heading->y).page, static_cast<int>(pages.size()) - 1);
        e.object.replaceKey("/Dest", destination(pages[static_cast<std::size_t>(page)], g, e.heading->y));
    }
    int count = 0;
    for (std::size_t i = 0; i < level.size(); ++i) {
        auto& e = level[i];
        if (i > 0) e.object.replaceKey("/Prev", level[i - 1].object);
        if (i + 1 < level.size()) e.object.replaceKey("/Next", level[i + 1].object);
        if (!e.children.empty()) {
            const int under = linkLevel(pdf, e.children, e.object, pages, g);
            e.object.replaceKey("/First", e.children.front().object);
            e.object.replaceKey("/Last", e.children.back().object);
            e.object.replaceKey("/Count", Object::newInteger(under));  // shown open
            count += under;
        }
        ++count;
    }
    return count;
}

void addOutline(QPDF& pdf, const std::vector<PrintedHeading>& headings, const std::vector<Object>& pages,
                const PrintGeometry& g) {
    std::vector<Entry> top;
    // A heading goes under the nearest heading before it of a higher level.
    std::vector<std::pair<int, std::vector<Entry>*>> open{{0, &top}};
    for (const auto& h : headings) {
        if (h.text.empty()) continue;
        while (open.size() > 1 && open.back().first >= h.level) open.pop_back();
        auto* level = open.back().second;
        level->push_back({&h, {}, {}});
        open.emplace_back(h.level, &level->back().children);
    }
    if (top.empty()) return;
    Object outlines = pdf.makeIndirectObject(Object::newDictionary());
    outlines.replaceKey("/Type", Object::newName("/Outlines"));
    const int count = linkLevel(pdf, top, outlines, pages, g);
    outlines.replaceKey("/First", top.front().object);
    outlines.replaceKey("/Last", top.back().object);
    outlines.replaceKey("/Count", Object::newInteger(count));
    pdf.getRoot().replaceKey("/Outlines", outlines);
    pdf.getRoot().replaceKey("/PageMode", Object::newName("/UseOutlines"));
}

void addLinks(const std::vector<PrintedLink>& links, const std::vector<Object>& pages, const PrintGeometry& g) {
    const double k = g.scale();
    for (const auto& l : links) {
        const auto top = placeOnPage(g, l.y);
        if (top.page >= static_cast<int>(pages.size())) continue;
        // A link that runs over a page's end is kept on the page it starts on.
        const double x = g.margins[3] + l.x * k;
        const double bottom = std::max(g.margins[2], top.top - l.height * k);
        Object link = Object::newDictionary();
        link.replaceKey("/Type", Object::newName("/Annot"));
        link.replaceKey("/Subtype", Object::newName("/Link"));
        link.replaceKey("/Rect", Object::newArray(Object::Rectangle(x, bottom, x + l.width * k, top.top)));
        Object border = Object::newArray();
        for (int i = 0; i < 3; ++i) border.appendItem(Object::newInteger(0));
        link.replaceKey("/Border", border);
        Object action = Object::newDictionary();
        action.replaceKey("/S", Object::newName("/URI"));
        action.replaceKey("/URI", Object::newString(l.target));
        link.replaceKey("/A", action);
        Object page = pages[static_cast<std::size_t>(top.page)];
        if (!page.getKey("/Annots").isArray()) page.replaceKey("/Annots", Object::newArray());
        page.getKey("/Annots").appendItem(link);
    }
}

// The engine embeds a font again for each page that uses it: every page's descriptor is
// pointed at the first copy, and the others are left out of the file.
void shareFonts(QPDF& pdf) {
    std::map<std::string, Object> first;
    for (auto& o : pdf.getAllObjects()) {
        if (!o.isDictionary() || !o.hasKey("/Type") || !o.getKey("/Type").isNameAndEquals("/FontDescriptor")) continue;
        for (const char* key : {"/FontFile", "/FontFile2", "/FontFile3"}) {
            Object file = o.getKey(key);
            if (!file.isStream()) continue;
            const auto data = file.getRawStreamData();
            const std::string bytes(reinterpret_cast<const char*>(data->getBuffer()), data->getSize());
            const auto [at, added] = first.emplace(bytes, file);
            if (!added) o.replaceKey(key, at->second);
        }
    }
}

void trimLastPage(const std::vector<Object>& pages, const PrintGeometry& g) {
    const auto end = placeOnPage(g, g.layoutHeight);
    if (end.page != static_cast<int>(pages.size()) - 1) return;
    // The page keeps its top; its bottom comes up to the document's end and margin.
    const double bottom = std::clamp(end.top - g.margins[2], 0.0, g.paperHeight - 1);
    Object page = pages.back();
    page.replaceKey("/MediaBox", Object::newArray(Object::Rectangle(0, bottom, g.paperWidth, g.paperHeight)));
    page.removeKey("/CropBox");
}

}  // namespace

double PrintGeometry::scale() const {
    const double across = paperWidth - margins[1] - margins[3];
    return layoutWidth > 0 && across > 0 ? across / layoutWidth : 0.8;
}

double PrintGeometry::pageHeight() const { return std::max(1.0, (paperHeight - margins[0] - margins[2]) / scale()); }

int PrintGeometry::pages() const {
    return std::max(1, static_cast<int>(std::ceil(layoutHeight / pageHeight() - 1e-6)));
}

PagePoint placeOnPage(const PrintGeometry& g, double y) {
    const double perPage = g.pageHeight();
    const int page = std::max(0, static_cast<int>(std::floor(y / perPage)));
    return {page, g.paperHeight - g.margins[0] - (y - page * perPage) * g.scale()};
}

PrintOut::~PrintOut() {
    if (!path_.empty()) ::unlink(path_.c_str());
}

std::string pdfDate(long long seconds) {
    const std::time_t t = static_cast<std::time_t>(seconds);
    std::tm utc{};
    gmtime_r(&t, &utc);
    char text[32];
    std::strftime(text, sizeof text, "D:%Y%m%d%H%M%SZ", &utc);
    return text;
}

PrintedPlaces placeAsFound(const PrintOut& printed, const FoundHeadings& found) {
    PrintedPlaces placed{printed.headings, printed.links};
    const auto& g = printed.geometry;
    // How far each heading, and what follows it, moved down the layout, in CSS pixels: as
    // far as the heading before it, unless found on another page than that puts it on.
    std::vector<std::pair<double, double>> moved;  // the heading's measured top, the move
    double shift = 0;
    for (std::size_t i = 0; i < placed.headings.size(); ++i) {
        auto& h = placed.headings[i];
        const double y = h.y;
        if (i < found.size() && found[i] && found[i]->page != placeOnPage(g, y + shift).page)
            // A text's top may stand above the page's printed part by its font's ascent.
            shift = found[i]->page * g.pageHeight() +
                    std::clamp((g.paperHeight - g.margins[0] - found[i]->top) / g.scale(), 0.0, g.pageHeight() - 1) - y;
        h.y = y + shift;
        moved.emplace_back(y, shift);
    }
    std::stable_sort(moved.begin(), moved.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    for (auto& l : placed.links) {
        // The move of the last heading above it.
        const auto below = std::upper_bound(moved.begin(), moved.end(), l.y,
                                            [](double y, const auto& m) { return y < m.first; });
        if (below != moved.begin()) l.y += std::prev(below)->second;
    }
    return placed;
}

Document makeDocument(const PrintOut& printed, const DocumentFacts& facts, const std::function<FoundHeadings()>& found) {
    Document out;
    try {
        QPDF pdf;
        pdf.setSuppressWarnings(true);
        pdf.processFile(printed.path().c_str());
        std::vector<Object> pages;
        for (auto& p : QPDFPageDocumentHelper(pdf).getAllPages()) pages.push_back(p.getObjectHandle());
        if (pages.empty()) throw std::runtime_error("no pages");
        out.pages = static_cast<int>(pages.size());
        const auto& g = printed.geometry;
        if (g.trimLast && g.layoutWidth > 0) trimLastPage(pages, g);
        shareFonts(pdf);
        cutFontsToGlyphsUsed(pdf);
        const auto placed = placeAsFound(printed, found ? found() : FoundHeadings{});
        addOutline(pdf, placed.headings, pages, g);
        if (g.layoutWidth > 0) addLinks(placed.links, pages, g);

        Object info = pdf.makeIndirectObject(Object::newDictionary());
        if (!facts.title.empty()) info.replaceKey("/Title", Object::newUnicodeString(facts.title));
        info.replaceKey("/Subject", Object::newUnicodeString(facts.address));
        info.replaceKey("/Keywords", Object::newUnicodeString(facts.address));
        info.replaceKey("/Creator", Object::newUnicodeString("vemo-shot"));
        info.replaceKey("/CreationDate", Object::newString(pdfDate(facts.created)));
        info.replaceKey("/ModDate", Object::newString(pdfDate(facts.created)));
        pdf.getTrailer().replaceKey("/Info", info);

        QPDFWriter writer(pdf);
        writer.setOutputMemory();
        // The same print-out and facts make the same bytes.
        writer.setDeterministicID(true);
        writer.write();
        const auto bytes = writer.getBufferSharedPointer();
        out.bytes.assign(reinterpret_cast<const char*>(bytes->getBuffer()), bytes->getSize());
    } catch (const std::exception&) {
        out.error = std::make_error_code(std::errc::io_error);
    }
    return out;
}

}  // namespace capture
