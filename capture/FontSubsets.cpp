#include "capture/FontSubsets.h"

#include <hb-subset.h>
#include <qpdf/Buffer.hh>
#include <qpdf/QPDF.hh>

#include <future>
#include <string>

#include "capture/GlyphsUsed.h"

namespace capture {

namespace {

using Object = QPDFObjectHandle;
using References = std::map<QPDFObjGen, int>;

int referred(const References& refs, Object o) {
    const auto at = refs.find(o.getObjGen());
    return at == refs.end() ? 0 : at->second;
}

// The descriptor of the TrueType program behind a Type 0 font whose codes are the
// program's glyph ids, where nothing but that font leads to it; else null.
Object trueTypeDescriptor(Object font, const References& refs) {
    Object descendants = font.getKey("/DescendantFonts");
    if (!descendants.isArray() || descendants.getArrayNItems() != 1) return Object::newNull();
    Object cid = descendants.getArrayItem(0);
    if (!cid.isIndirect() || referred(refs, cid) != 1 || !cid.isDictionary() ||
        !cid.getKey("/Subtype").isNameAndEquals("/CIDFontType2"))
        return Object::newNull();
    Object map = cid.getKey("/CIDToGIDMap");
    if (!map.isNull() && !map.isNameAndEquals("/Identity")) return Object::newNull();
    Object descriptor = cid.getKey("/FontDescriptor");
    if (!descriptor.isIndirect() || referred(refs, descriptor) != 1 || !descriptor.isDictionary() ||
        !descriptor.getKey("/FontFile2").isStream())
        return Object::newNull();
    return descriptor;
}

// The TrueType program `font` with only `glyphs` (and glyph 0, and the parts of composite
// glyphs), each at its id; empty where it cannot be cut. Tables a PDF reader does not draw
// with (layout, kerning) are left out.
std::string cut(const std::string& font, const std::vector<bool>& glyphs) {
    hb_blob_t* blob = hb_blob_create(font.data(), static_cast<unsigned>(font.size()), HB_MEMORY_MODE_READONLY, nullptr, nullptr);
    hb_face_t* face = hb_face_create(blob, 0);
    hb_blob_destroy(blob);
    std::string out;
    if (hb_subset_input_t* input = hb_subset_input_create_or_fail()) {
        hb_set_t* kept = hb_subset_input_glyph_set(input);
        hb_set_add(kept, 0);
        for (std::size_t g = 0; g < glyphs.size(); ++g)
            if (glyphs[g]) hb_set_add(kept, static_cast<hb_codepoint_t>(g));
        hb_set_t* dropped = hb_subset_input_set(input, HB_SUBSET_SETS_DROP_TABLE_TAG);
        for (const char* tag : {"GSUB", "GPOS", "GDEF", "BASE", "JSTF", "MATH", "kern", "morx", "kerx", "FFTM", "DSIG"})
            hb_set_add(dropped, hb_tag_from_string(tag, 4));
        hb_subset_input_set_flags(input, HB_SUBSET_FLAGS_RETAIN_GIDS | HB_SUBSET_FLAGS_NOTDEF_OUTLINE);
        if (hb_face_t* subset = hb_subset_or_fail(face, input)) {
            hb_blob_t* bytes = hb_face_reference_blob(subset);
            unsigned size = 0;
            const char* data = hb_blob_get_data(bytes, &size);
            if (data) out.assign(data, size);
            hb_blob_destroy(bytes);
            hb_face_destroy(subset);
        }
        hb_subset_input_destroy(input);
    }
    hb_face_destroy(face);
    return out;
}

// One embedded program, the descriptors that lead to it and the glyphs they show.
struct Program {
    Object file;
    std::vector<Object> descriptors;
    std::vector<bool> glyphs = std::vector<bool>(65536);
};

// The program cut, where that makes it smaller; none where it is not; a whole program
// that could not be inflated here left for qpdf to read.
struct Cut {
    std::optional<std::string> smaller;
    bool inflated = true;
};

Cut cutDeflated(const std::shared_ptr<Buffer>& deflated, std::size_t size, const std::vector<bool>& glyphs) {
    try {
        const auto whole = inflate(*deflated, size);
        if (!whole) return {std::nullopt, false};
        auto smaller = cut(*whole, glyphs);
        if (smaller.empty() || smaller.size() >= whole->size()) return {};
        return {std::move(smaller)};
    } catch (const std::exception&) {  // out of memory: the program stays whole
        return {};
    }
}

Cut cutWhole(Object file, const std::vector<bool>& glyphs) {
    const auto whole = streamBytes(file);
    if (!whole) return {};
    auto smaller = cut(*whole, glyphs);
    if (smaller.empty() || smaller.size() >= whole->size()) return {};
    return {std::move(smaller)};
}

void replace(Program& p, const std::string& smaller) {
    p.file.replaceStreamData(smaller, Object::newNull(), Object::newNull());
    p.file.getDict().replaceKey("/Length1", Object::newInteger(static_cast<long long>(smaller.size())));
    // It would claim glyphs the program no longer has.
    for (auto& d : p.descriptors) d.removeKey("/CIDSet");
}

// The programs cut side by side: inflating and cutting need no document, only what
// qpdf reads before and writes after.
void cutAll(std::vector<Program*>& programs) {
    std::vector<std::future<Cut>> cuts;
    for (auto* p : programs) {
        std::size_t size = 0;
        std::shared_ptr<Buffer> deflated;
        try {
            deflated = deflatedData(p->file, size);
        } catch (const std::exception&) {
        }
        cuts.push_back(deflated ? std::async(std::launch::async, cutDeflated, deflated, size, std::cref(p->glyphs))
                                : std::future<Cut>());
    }
    for (std::size_t i = 0; i < programs.size(); ++i) {
        auto done = cuts[i].valid() ? cuts[i].get() : Cut{std::nullopt, false};
        if (!done.inflated) done = cutWhole(programs[i]->file, programs[i]->glyphs);
        if (done.smaller) replace(*programs[i], *done.smaller);
    }
}

}  // namespace

void cutFontsToGlyphsUsed(QPDF& pdf) {
    const auto used = readGlyphsUsed(pdf);
    if (used.lost) return;
    const auto refs = countReferences(pdf);
    std::map<QPDFObjGen, Program> programs;
    for (const auto& [id, glyphs] : used.glyphs) {
        const auto named = used.named.find(id);
        if (used.unsure.count(id) || named == used.named.end() || named->second != referred(refs, pdf.getObjectByObjGen(id)))
            continue;
        Object descriptor = trueTypeDescriptor(pdf.getObjectByObjGen(id), refs);
        if (descriptor.isNull()) continue;
        Object file = descriptor.getKey("/FontFile2");
        auto& p = programs[file.getObjGen()];
        p.file = file;
        p.descriptors.push_back(descriptor);
        for (std::size_t g = 0; g < glyphs.size(); ++g)
            if (glyphs[g]) p.glyphs[g] = true;
    }
    std::vector<Program*> cuttable;
    for (auto& [id, p] : programs)
        // Every descriptor that leads to it must be one of the fonts read.
        if (static_cast<int>(p.descriptors.size()) == referred(refs, p.file)) cuttable.push_back(&p);
    cutAll(cuttable);
}

}  // namespace capture
