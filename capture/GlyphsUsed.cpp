#include "capture/GlyphsUsed.h"

#include <isa-l/igzip_lib.h>

#include <qpdf/Buffer.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>

#include <algorithm>
#include <cstdint>
#include <string>

#include "capture/ContentLexer.h"

namespace capture {

namespace {

using Object = QPDFObjectHandle;

constexpr int kDeepest = 24;  // forms drawn within forms

class Reader {
public:
    explicit Reader(GlyphsUsed& used) : used_(used) {}

    // A content stream drawn with `resources`, and what those resources draw in turn.
    void read(const std::string& content, Object resources, int depth) {
        if (depth > kDeepest) {
            used_.lost = true;
            return;
        }
        Object fonts = resources.isDictionary() ? resources.getKey("/Font") : Object::newNull();
        if (fonts.isDictionary() && remember(fontTables_, fonts))
            for (auto& [name, font] : fonts.ditems())
                if (font.isIndirect()) ++used_.named[font.getObjGen()];
        if (!readText(content, fonts) && fonts.isDictionary())
            for (auto& [name, font] : fonts.ditems())
                if (font.isIndirect()) used_.unsure.insert(font.getObjGen());
        if (resources.isDictionary() && remember(resourceTables_, resources)) readDrawn(resources, depth);
    }

    void readStream(Object stream, Object outer, int depth) {
        Object own = stream.getDict().getKey("/Resources");
        const Object resources = own.isDictionary() ? own : outer;
        for (auto& [s, r] : streamsRead_)
            if (s.isSameObjectAs(stream) && r.isSameObjectAs(resources)) return;
        streamsRead_.emplace_back(stream, resources);
        // One that cannot be read does not parse: its fonts are left whole.
        read(streamBytes(stream).value_or("("), resources, depth);
    }

private:
    static bool remember(std::vector<Object>& seen, Object o) {
        for (auto& s : seen)
            if (s.isSameObjectAs(o)) return false;
        seen.push_back(o);
        return true;
    }

    // The forms, soft masks, tiling patterns and Type 3 glyphs `resources` offer.
    void readDrawn(Object resources, int depth) {
        Object forms = resources.getKey("/XObject");
        if (forms.isDictionary())
            for (auto& [name, form] : forms.ditems())
                if (form.isStream() && form.getDict().getKey("/Subtype").isNameAndEquals("/Form"))
                    readStream(form, resources, depth + 1);
        // Soft masks are drawn from forms too.
        Object states = resources.getKey("/ExtGState");
        if (states.isDictionary())
            for (auto& [name, state] : states.ditems()) {
                Object mask = state.isDictionary() ? state.getKey("/SMask") : Object::newNull();
                if (mask.isDictionary() && mask.getKey("/G").isStream()) readStream(mask.getKey("/G"), resources, depth + 1);
            }
        Object patterns = resources.getKey("/Pattern");
        if (patterns.isDictionary())
            for (auto& [name, pattern] : patterns.ditems())
                if (pattern.isStream()) readStream(pattern, resources, depth + 1);
        Object fonts = resources.getKey("/Font");
        if (fonts.isDictionary())
            for (auto& [name, font] : fonts.ditems()) {
                if (!font.isDictionary() || !font.getKey("/Subtype").isNameAndEquals("/Type3")) continue;
                Object procs = font.getKey("/CharProcs");
                Object own = font.getKey("/Resources");
                if (procs.isDictionary())
                    for (auto& [glyph, proc] : procs.ditems())
                        if (proc.isStream()) readStream(proc, own.isDictionary() ? own : resources, depth + 1);
            }
    }

    // The glyphs shown by the text operators of `content`; false where it cannot be read
    // for sure.
    bool readText(const std::string& content, Object fonts) {
        ContentLexer lexer(content);
        std::vector<std::vector<bool>*> stack;  // the font at each q
        std::vector<bool>* font = nullptr;
        bool fontKnown = false;
        std::string name, text;
        std::vector<std::string> shown;  // the strings of the last array
        int depth = 0;
        for (;;) {
            switch (lexer.next()) {
            case ContentLexer::End: return depth == 0;
            case ContentLexer::Bad: return false;
            case ContentLexer::Open:
                if (depth++ == 0) shown.clear();
                break;
            case ContentLexer::Close:
                if (--depth < 0) return false;
                break;
            case ContentLexer::Name: name = lexer.value(); break;
            case ContentLexer::String:
                if (depth == 1) shown.push_back(lexer.value());
                else text = lexer.value();
                break;
            case ContentLexer::Other: break;
            case ContentLexer::Operator: {
                const auto op = lexer.word();
                if (op == "Tf") {
                    font = identityFont(fonts.isDictionary() ? fonts.getKey(name) : Object::newNull());
                    fontKnown = true;
                } else if (op == "q") {
                    stack.push_back(fontKnown ? font : &lost_);
                } else if (op == "Q" && !stack.empty()) {
                    fontKnown = stack.back() != &lost_;
                    font = fontKnown ? stack.back() : nullptr;
                    stack.pop_back();
                } else if (op == "Tj" || op == "'" || op == "\"") {
                    if (!show(fontKnown, font, text)) return false;
                } else if (op == "TJ") {
                    for (const auto& s : shown)
                        if (!show(fontKnown, font, s)) return false;
                } else if (op == "BI") {
                    return false;  // where an inline picture ends is not certain
                }
                if (depth == 0) {
                    text.clear();
                    shown.clear();
                }
                break;
            }
            }
        }
    }

    // The glyphs of a font dictionary that shows two-byte glyph ids; null for another.
    std::vector<bool>* identityFont(Object f) {
        if (!f.isIndirect() || !f.isDictionary() || !f.getKey("/Subtype").isNameAndEquals("/Type0") ||
            !f.getKey("/Encoding").isNameAndEquals("/Identity-H")) {
            if (f.isIndirect()) used_.unsure.insert(f.getObjGen());
            return nullptr;
        }
        auto& glyphs = used_.glyphs[f.getObjGen()];
        glyphs.resize(65536);
        return &glyphs;
    }

    // False where text is shown in a font not known here: one set by whoever drew this.
    bool show(bool fontKnown, std::vector<bool>* font, const std::string& s) {
        if (!fontKnown) {
            used_.lost = true;
            return true;
        }
        if (!font) return true;  // a font that is not cut
        if (s.size() % 2) return false;
        for (std::size_t i = 0; i < s.size(); i += 2)
            (*font)[static_cast<unsigned char>(s[i]) << 8 | static_cast<unsigned char>(s[i + 1])] = true;
        return true;
    }

    GlyphsUsed& used_;
    std::vector<bool> lost_;  // marks a saved state whose font was not known
    std::vector<Object> fontTables_, resourceTables_;
    std::vector<std::pair<Object, Object>> streamsRead_;
};

void count(Object o, std::map<QPDFObjGen, int>& refs, bool top) {
    if (!top && o.isIndirect()) {
        ++refs[o.getObjGen()];
        return;
    }
    if (o.isArray()) {
        for (auto& item : Object(o).aitems()) count(item, refs, false);
    } else if (o.isDictionary()) {
        for (auto& [key, value] : Object(o).ditems()) count(value, refs, false);
    } else if (o.isStream()) {
        count(Object(o).getDict(), refs, false);
    }
}

}  // namespace

std::optional<std::string> inflate(const Buffer& deflated, std::size_t expected) {
    // Deflate shrinks data a thousandfold at the most.
    const std::size_t most = 1032 * deflated.getSize() + 1024;
    std::string out(std::min(most, std::max<std::size_t>(expected, 4 * deflated.getSize() + 1024)), '\0');
    inflate_state z;
    isal_inflate_init(&z);
    z.crc_flag = ISAL_ZLIB;
    z.next_in = const_cast<Buffer&>(deflated).getBuffer();
    z.avail_in = static_cast<std::uint32_t>(deflated.getSize());
    for (;;) {
        z.next_out = reinterpret_cast<std::uint8_t*>(out.data()) + z.total_out;
        z.avail_out = static_cast<std::uint32_t>(out.size() - z.total_out);
        if (isal_inflate(&z) < 0) return std::nullopt;
        if (z.block_state == ISAL_BLOCK_FINISH) break;
        if (z.avail_out > 0) return std::nullopt;  // the data ends before the stream does
        if (out.size() >= most) return std::nullopt;
        out.resize(std::min(most, out.size() * 2));
    }
    out.resize(z.total_out);
    return out;
}

std::shared_ptr<Buffer> deflatedData(Object stream, std::size_t& size) {
    Object dict = stream.getDict();
    Object filter = dict.getKey("/Filter");
    if (filter.isArray() && filter.getArrayNItems() == 1) filter = filter.getArrayItem(0);
    if (!filter.isNameAndEquals("/FlateDecode") || !dict.getKey("/DecodeParms").isNull()) return nullptr;
    Object length = dict.getKey("/Length1");
    size = length.isInteger() && length.getIntValue() > 0 ? static_cast<std::size_t>(length.getIntValue()) + 1 : 0;
    return stream.getRawStreamData();
}

std::optional<std::string> streamBytes(Object stream) {
    try {
        std::size_t size = 0;
        if (const auto deflated = deflatedData(stream, size))
            if (auto bytes = inflate(*deflated, size)) return bytes;
        // Else as qpdf reads it, which forgives more (an empty stream said to be deflated).
        const auto data = stream.getStreamData(qpdf_dl_generalized);
        return std::string(reinterpret_cast<const char*>(data->getBuffer()), data->getSize());
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

GlyphsUsed readGlyphsUsed(QPDF& pdf) {
    GlyphsUsed used;
    Reader reader(used);
    for (auto& page : QPDFPageDocumentHelper(pdf).getAllPages()) {
        Object p = page.getObjectHandle();
        std::string content;
        Object contents = p.getKey("/Contents");
        for (auto& s : contents.isArray() ? contents.getArrayAsVector() : std::vector<Object>{contents}) {
            if (!s.isStream()) continue;
            const auto bytes = streamBytes(s);
            content += bytes.value_or("(");  // one that cannot be read does not parse
            content += '\n';
        }
        // Resources a page takes from the page tree above it are not read: their fonts,
        // named where no reading counted them, are left whole.
        reader.read(content, p.getKey("/Resources"), 0);
    }
    return used;
}

std::map<QPDFObjGen, int> countReferences(QPDF& pdf) {
    std::map<QPDFObjGen, int> refs;
    for (auto& o : pdf.getAllObjects()) count(o, refs, true);
    count(pdf.getTrailer(), refs, true);
    return refs;
}

}  // namespace capture
