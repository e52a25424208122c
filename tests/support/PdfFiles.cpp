#include "tests/support/PdfFiles.h"

#include <fstream>
#include <regex>
#include <sstream>

#include "tests/support/Command.h"
#include "tests/support/GuiHarness.h"

namespace support {

namespace {

std::string field(const std::string& info, const std::string& name) {
    std::smatch m;
    return std::regex_search(info, m, std::regex("(^|\n)" + name + ": *([^\n]*)")) ? m[2].str() : "";
}

std::string unescaped(std::string s) {
    for (const auto& [from, to] : {std::pair<std::string, std::string>{"&amp;", "&"}, {"&lt;", "<"}, {"&gt;", ">"},
                                   {"&quot;", "\""}, {"&#39;", "'"}})
        for (std::size_t at; (at = s.find(from)) != std::string::npos;) s.replace(at, from.size(), to);
    return s;
}

}  // namespace

std::optional<PdfRead> readPdf(const std::string& path) {
    const auto info = runCommand({"/usr/bin/pdfinfo", "-f", "1", "-l", "100000", path});
    if (info.status != 0) return std::nullopt;
    PdfRead r;
    r.title = field(info.out, "Title");
    r.subject = field(info.out, "Subject");
    r.keywords = field(info.out, "Keywords");
    r.created = field(info.out, "CreationDate");
    const std::regex size("Page +[0-9]+ size: +([0-9.]+) x ([0-9.]+) pts");
    for (std::sregex_iterator i(info.out.begin(), info.out.end(), size), end; i != end; ++i)
        r.sizes.emplace_back(static_cast<int>(std::stod((*i)[1]) + 0.5), static_cast<int>(std::stod((*i)[2]) + 0.5));
    r.text = runCommand({"/usr/bin/pdftotext", "-q", path, "-"}).out;
    // pdftohtml's XML nests an <outline> in an entry's place for the entries under it.
    const auto xml = runCommand({"/usr/bin/pdftohtml", "-xml", "-i", "-q", "-stdout", path}).out;
    int level = 0;
    const std::regex tag("<outline>|</outline>|<item page=\"([0-9]+)\">([^<]*)</item>");
    for (std::sregex_iterator i(xml.begin(), xml.end(), tag), end; i != end; ++i) {
        const std::string t = (*i)[0];
        if (t == "<outline>") ++level;
        else if (t == "</outline>") --level;
        else r.outline += std::to_string(level) + " " + (*i)[1].str() + " " + unescaped((*i)[2]) + "\n";
    }
    // Past its two lines of titles, a line a font: "yes" where it is embedded.
    std::istringstream fonts(runCommand({"/usr/bin/pdffonts", path}).out);
    const std::regex embedded(" (yes|no) +(yes|no) +(yes|no) +[0-9]+ +[0-9]+ *$");
    for (std::string line; std::getline(fonts, line);) {
        std::smatch m;
        if (!std::regex_search(line, m, embedded)) continue;
        ++r.fonts;
        if (m[1] == "yes") ++r.fontsEmbedded;
    }
    std::ifstream in(path, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), {});
    const std::regex uri("/URI \\(([^)]*)\\)");
    for (std::sregex_iterator i(bytes.begin(), bytes.end(), uri), end; i != end; ++i) r.links.push_back((*i)[1]);
    return r;
}

std::optional<unsigned> pdfColourAt(const std::string& path, int page, double x, double y) {
    TempDir dir;
    const auto n = std::to_string(page);
    if (runCommand({"/usr/bin/pdftoppm", "-png", "-r", "20", "-singlefile", "-f", n, "-l", n, path, dir.path("page")}).status != 0)
        return std::nullopt;
    const auto picture = readPicture(dir.path("page.png"));
    if (!picture || picture->width < 1 || picture->height < 1) return std::nullopt;
    const int px = static_cast<int>(x * (picture->width - 1)), py = static_cast<int>(y * (picture->height - 1));
    return picture->pixels[static_cast<std::size_t>(py) * static_cast<std::size_t>(picture->width) + static_cast<std::size_t>(px)];
}

std::string withoutDates(std::string bytes) {
    bytes = std::regex_replace(bytes, std::regex("D:[0-9]{14}Z"), "D:--------------Z");
    return std::regex_replace(bytes, std::regex("/ID \\[ *<[0-9a-f]*> *<[0-9a-f]*> *\\]"), "/ID []");
}

}  // namespace support
