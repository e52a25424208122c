// PDF files the command and the service wrote, read back with poppler's tools as a
// reader would: pages and their sizes, the document's facts, its text, outline and links.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace support {

struct PdfRead {
    std::vector<std::pair<int, int>> sizes;  // each page's, in whole points
    std::string title, subject, keywords, created;
    std::string text;     // as pdftotext finds it
    std::string outline;  // the outline's entries, one "LEVEL PAGE TITLE" a line
    std::vector<std::string> links;  // the addresses links go to
    int fonts = 0, fontsEmbedded = 0;  // as pdffonts lists them
    // Each embedded TrueType program, once however many fonts share it: the font's name
    // and the program's bytes.
    std::vector<std::pair<std::string, std::size_t>> fontPrograms;
};

std::optional<PdfRead> readPdf(const std::string& path);
// The colour (0xRRGGBB) of page `page` (from 1) at a point given as fractions of its size.
std::optional<unsigned> pdfColourAt(const std::string& path, int page, double x, double y);
// Each page of a PDF as poppler draws it, at `dpi`: the bytes of its picture (PPM).
std::vector<std::string> pdfPages(const std::string& path, int dpi);
// The system's font file of a font's PostScript name; empty where there is none.
std::string fontFile(const std::string& name);
// The PDF `from` written to `to` with each embedded TrueType program replaced by the whole
// font file of that name the system has, as the engine embeds them. False where a font's
// file is not found.
bool withWholeFonts(const std::string& from, const std::string& to);
// A PDF's bytes with its dates and its identifier (made from them) blanked out.
std::string withoutDates(std::string bytes);

}  // namespace support
