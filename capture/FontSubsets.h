// Embedded fonts cut to the glyphs a PDF shows.
#pragma once

class QPDF;

namespace capture {

// Cuts each embedded TrueType font program of `pdf` to the glyphs its pages show, glyph
// ids kept, where every use of the font could be read: a font used in a way not read
// here is left whole, so no glyph the document shows goes missing.
void cutFontsToGlyphsUsed(QPDF& pdf);

}  // namespace capture
