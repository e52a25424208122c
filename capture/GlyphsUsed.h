// Which glyphs of which fonts a PDF's pages show: read from the text operators of every
// content stream the pages draw (their own, and those of their forms, soft masks, tiling
// patterns and Type 3 glyphs), for fonts that show two-byte glyph ids (Identity-H).
#pragma once

#include <qpdf/QPDFObjGen.hh>
#include <qpdf/QPDFObjectHandle.hh>

#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

class Buffer;
class QPDF;

namespace capture {

struct GlyphsUsed {
    // For each font dictionary (Type 0, Identity-H) the pages name: the glyph ids shown.
    std::map<QPDFObjGen, std::vector<bool>> glyphs;
    // How often the resources read name each font dictionary; a font named elsewhere
    // too (in a form's appearance, a graphics state...) is used where it was not read.
    std::map<QPDFObjGen, int> named;
    // Fonts whose use could not be read for sure: text in another encoding, a stream
    // that does not parse.
    std::set<QPDFObjGen> unsure;
    // Text was shown in a font this reading cannot tell (one set before a form was drawn).
    bool lost = false;
};

GlyphsUsed readGlyphsUsed(QPDF& pdf);

// A stream's data, its filters undone; none where they cannot be. Deflated data, the
// engine's, is inflated by ISA-L, faster than by zlib.
std::optional<std::string> streamBytes(QPDFObjectHandle stream);
// A stream's data as stored where it is deflated and nothing else, and the size it says it
// inflates to (0: not said); null for other streams.
std::shared_ptr<Buffer> deflatedData(QPDFObjectHandle stream, std::size_t& size);
// Deflated data inflated (by ISA-L); none where it does not inflate. Needs no document:
// several may run at once.
std::optional<std::string> inflate(const Buffer& deflated, std::size_t expected);

// How often each indirect object is referred to in the whole file.
std::map<QPDFObjGen, int> countReferences(QPDF& pdf);

}  // namespace capture
