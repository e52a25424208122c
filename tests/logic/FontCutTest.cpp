// The fonts of a print-out cut to the glyphs it shows: the glyphs shown on the page and in
// its forms are kept, and a font used where its glyphs cannot be told for sure is left whole.
#include <gtest/gtest.h>
#include <hb.h>
#include <qpdf/Buffer.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFWriter.hh>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <iterator>

#include "capture/PrintOut.h"

namespace {

using Object = QPDFObjectHandle;

const char* const kFontFile = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";

std::string fileBytes(const char* path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// A TrueType program, to ask which glyphs it draws.
class Font {
public:
    explicit Font(const std::string& bytes) {
        hb_blob_t* blob = hb_blob_create(bytes.data(), static_cast<unsigned>(bytes.size()), HB_MEMORY_MODE_DUPLICATE, nullptr, nullptr);
        hb_face_t* face = hb_face_create(blob, 0);
        font_ = hb_font_create(face);
        hb_face_destroy(face);
        hb_blob_destroy(blob);
    }
    ~Font() { hb_font_destroy(font_); }
    Font(const Font&) = delete;
    Font& operator=(const Font&) = delete;

    hb_codepoint_t glyph(char c) const {
        hb_codepoint_t g = 0;
        hb_font_get_nominal_glyph(font_, static_cast<unsigned char>(c), &g);
        return g;
    }
    bool draws(hb_codepoint_t glyph) const {
        hb_glyph_extents_t e{};
        return hb_font_get_glyph_extents(font_, glyph, &e) && e.width != 0 && e.height != 0;
    }

private:
    hb_font_t* font_;
};

const std::string& wholeFont() {
    static const std::string bytes = fileBytes(kFontFile);
    return bytes;
}

// `text`'s glyph ids in the font, as the engine writes them: a hex string of two bytes each.
std::string ids(const std::string& text) {
    static const Font font(wholeFont());
    std::string hex = "<";
    char four[8];
    for (char c : text) {
        std::snprintf(four, sizeof four, "%04x", font.glyph(c));
        hex += four;
    }
    return hex + ">";
}

// The same as a literal string, each byte an octal escape, a line continued in its middle.
std::string literal(const std::string& text) {
    const std::string hex = ids(text);
    std::string out = "(";
    char three[8];
    for (std::size_t i = 1; i + 1 < hex.size(); i += 2) {
        std::snprintf(three, sizeof three, "\\%03o", static_cast<unsigned>(std::stoul(hex.substr(i, 2), nullptr, 16)));
        out += three;
        if (i == 3 && i + 3 < hex.size()) out += "\\\n";
    }
    return out + ")";
}

struct Printed {
    std::string page, form;             // content streams; the form is /X1 on the page
    bool formHasFonts = true;           // the form names /F1 in resources of its own
    bool annotationUsesFont = false;    // an annotation's appearance names the font too
    const char* encoding = "/Identity-H";
    std::string mask{};  // a soft mask's form, without resources of its own, that /GS1 sets
};

// A one-page print-out as the engine makes it, the font embedded whole, in a file.
std::string printOut(const Printed& p) {
    QPDF pdf;
    pdf.emptyPDF();
    auto dict = [&](std::initializer_list<std::pair<const char*, Object>> items) {
        Object d = Object::newDictionary();
        for (const auto& [k, v] : items) d.replaceKey(k, v);
        return d;
    };
    Object program = pdf.newStream(wholeFont());
    program.getDict().replaceKey("/Length1", Object::newInteger(static_cast<long long>(wholeFont().size())));
    Object descriptor = pdf.makeIndirectObject(dict({{"/Type", Object::newName("/FontDescriptor")},
        {"/FontName", Object::newName("/AAAAAA+DejaVuSans")}, {"/Flags", Object::newInteger(32)},
        {"/FontBBox", Object::newArray(Object::Rectangle(-1021, -463, 1793, 1232))}, {"/ItalicAngle", Object::newInteger(0)},
        {"/Ascent", Object::newInteger(928)}, {"/Descent", Object::newInteger(-236)}, {"/CapHeight", Object::newInteger(729)},
        {"/StemV", Object::newInteger(80)}, {"/FontFile2", program}}));
    Object systemInfo = dict({{"/Registry", Object::newString("Adobe")}, {"/Ordering", Object::newString("Identity")},
                              {"/Supplement", Object::newInteger(0)}});
    Object cid = pdf.makeIndirectObject(dict({{"/Type", Object::newName("/Font")}, {"/Subtype", Object::newName("/CIDFontType2")},
        {"/BaseFont", Object::newName("/AAAAAA+DejaVuSans")}, {"/CIDSystemInfo", systemInfo},
        {"/FontDescriptor", descriptor}, {"/CIDToGIDMap", Object::newName("/Identity")}}));
    Object descendants = Object::newArray();
    descendants.appendItem(cid);
    Object font = pdf.makeIndirectObject(dict({{"/Type", Object::newName("/Font")}, {"/Subtype", Object::newName("/Type0")},
        {"/BaseFont", Object::newName("/AAAAAA+DejaVuSans")}, {"/Encoding", Object::newName(p.encoding)},
        {"/DescendantFonts", descendants}}));
    auto fonts = [&] { return dict({{"/Font", dict({{"/F1", font}})}}); };
    auto form = [&](const std::string& content, Object resources) {
        Object f = pdf.newStream(content);
        f.getDict().replaceKey("/Type", Object::newName("/XObject"));
        f.getDict().replaceKey("/Subtype", Object::newName("/Form"));
        f.getDict().replaceKey("/BBox", Object::newArray(Object::Rectangle(0, 0, 300, 100)));
        if (!resources.isNull()) f.getDict().replaceKey("/Resources", resources);
        return f;
    };
    Object resources = fonts();
    resources.replaceKey("/XObject", dict({{"/X1", form(p.form, p.formHasFonts ? fonts() : Object::newNull())}}));
    if (!p.mask.empty()) {
        Object mask = dict({{"/S", Object::newName("/Luminosity")}, {"/G", form(p.mask, Object::newNull())}});
        resources.replaceKey("/ExtGState", dict({{"/GS1", dict({{"/Type", Object::newName("/ExtGState")}, {"/SMask", mask}})}}));
    }
    Object page = pdf.makeIndirectObject(dict({{"/Type", Object::newName("/Page")},
        {"/MediaBox", Object::newArray(Object::Rectangle(0, 0, 300, 300))}, {"/Resources", resources},
        {"/Contents", pdf.newStream(p.page)}}));
    if (p.annotationUsesFont) {
        Object annots = Object::newArray();
        annots.appendItem(dict({{"/Type", Object::newName("/Annot")}, {"/Subtype", Object::newName("/Widget")},
            {"/Rect", Object::newArray(Object::Rectangle(0, 0, 100, 20))},
            {"/AP", dict({{"/N", form("BT /F1 12 Tf " + ids("Wx") + " Tj ET", fonts())}})}}));
        page.replaceKey("/Annots", annots);
    }
    QPDFPageDocumentHelper(pdf).addPage(QPDFPageObjectHelper(page), false);
    char path[] = "/tmp/vemo-print-XXXXXX";
    const int fd = mkstemp(path);
    if (fd >= 0) ::close(fd);
    QPDFWriter writer(pdf, path);
    writer.write();
    return path;
}

// The programs of the fonts embedded in `pdf`.
std::vector<std::string> embeddedPrograms(const std::string& pdf) {
    QPDF read;
    read.processMemoryFile("made", pdf.data(), pdf.size());
    std::vector<std::string> programs;
    for (auto& o : read.getAllObjects())
        if (o.isDictionary() && o.getKey("/FontFile2").isStream()) {
            const auto data = o.getKey("/FontFile2").getStreamData();
            programs.emplace_back(reinterpret_cast<const char*>(data->getBuffer()), data->getSize());
        }
    return programs;
}

TEST(FontCut, GlyphsShownOnThePageAndInItsFormsAreKeptAndFontsUsedUnseenStayWhole) {
    struct Case {
        const char* what;
        Printed printed;
        std::string shown;  // empty: the font is left whole
    };
    const std::string page = "BT /F1 12 Tf 10 10 Td " + ids("Page") + " Tj ET q /X1 Do Q";
    const std::string form = "BT /F1 9 Tf [" + ids("Fo") + " -20 " + literal("r") + " 5 " + ids("m") + "] TJ ET";
    const Case cases[] = {
        {"text on the page and in its form", {page, form}, "PageForm"},
        {"strings of every kind, fonts saved and restored", {"q BT /F1 12 Tf " + ids("ab") + " Tj ET Q BT /F1 9 Tf 1 2 " +
              literal("cd") + " \" " + ids("e") + " ' ET % " + literal("y") + " Tj\n", ""}, "abcde"},
        {"text in a soft mask", {"/GS1 gs " + page, form, true, false, "/Identity-H", "BT /F1 9 Tf " + ids("Mask") + " Tj ET"},
         "PageFormMask"},
        {"a form that shows text in the font its drawer set", {page, "BT " + ids("Qz") + " Tj ET", false}, ""},
        {"a font an annotation's appearance uses too", {page, form, true, true}, ""},
        {"a picture within the content", {page + " BI /W 1 /H 1 /CS /G /BPC 8 ID \x7f EI", form}, ""},
        {"a string that is not of whole glyph ids", {"BT /F1 12 Tf <002400> Tj ET", form}, ""},
        {"another encoding", {page, form, true, false, "/UniGB-UCS2-H"}, ""},
    };
    const Font whole(wholeFont());
    for (const auto& c : cases) {
        capture::PrintOut printed(printOut(c.printed));
        const auto document = capture::makeDocument(printed, {"Fonts", "http://127.0.0.1/", 0});
        ASSERT_FALSE(document.error) << c.what;
        const auto programs = embeddedPrograms(document.bytes);
        ASSERT_EQ(programs.size(), 1u) << c.what;
        if (c.shown.empty()) {
            EXPECT_TRUE(programs[0] == wholeFont()) << c.what;
            continue;
        }
        EXPECT_LT(programs[0].size(), wholeFont().size() / 10) << c.what;
        const Font cut(programs[0]);
        for (char ch : c.shown) EXPECT_TRUE(cut.draws(whole.glyph(ch))) << c.what << ": " << ch;
        for (char ch : std::string("WQyz")) EXPECT_FALSE(cut.draws(whole.glyph(ch))) << c.what << ": " << ch;
    }
}

}  // namespace
