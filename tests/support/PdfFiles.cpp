#include "tests/support/PdfFiles.h"

#include <qpdf/Buffer.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFWriter.hh>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
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

using Object = QPDFObjectHandle;

// Its objects, read with qpdf; none where it cannot be read.
std::vector<Object> documentObjects(const std::string& path, QPDF& pdf) {
    try {
        pdf.setSuppressWarnings(true);
        pdf.processFile(path.c_str());
        return pdf.getAllObjects();
    } catch (const std::exception&) {
        return {};
    }
}

// A font descriptor's font name, without the tag a subset's name begins with.
std::string fontName(Object descriptor) {
    const auto name = descriptor.getKey("/FontName").isName() ? descriptor.getKey("/FontName").getName() : "";
    const auto plus = name.find('+');
    return name.substr(plus == std::string::npos ? 1 : plus + 1);
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
    QPDF document;
    std::set<QPDFObjGen> programs;  // one a program, however many fonts lead to it
    for (auto& o : documentObjects(path, document)) {
        Object file = o.isDictionary() ? o.getKey("/FontFile2") : Object::newNull();
        if (file.isStream() && programs.insert(file.getObjGen()).second)
            r.fontPrograms.emplace_back(fontName(o), file.getStreamData()->getSize());
    }
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

std::vector<std::string> pdfPages(const std::string& path, int dpi) {
    TempDir dir;
    std::vector<std::string> pages;
    if (runCommand({"/usr/bin/pdftoppm", "-r", std::to_string(dpi), path, dir.path("page")}).status != 0) return pages;
    std::vector<std::string> files;
    for (const auto& e : std::filesystem::directory_iterator(dir.path(""))) files.push_back(e.path().string());
    std::sort(files.begin(), files.end());
    for (const auto& f : files) {
        std::ifstream in(f, std::ios::binary);
        pages.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    return pages;
}

std::string fontFile(const std::string& name) {
    const auto listed = runCommand({"/usr/bin/fc-list", ":postscriptname=" + name, "file"}).out;
    return listed.substr(0, std::min(listed.find(':'), listed.find('\n')));
}

bool withWholeFonts(const std::string& from, const std::string& to) {
    QPDF pdf;
    int replaced = 0;
    for (auto& o : documentObjects(from, pdf)) {
        Object file = o.isDictionary() ? o.getKey("/FontFile2") : Object::newNull();
        if (!file.isStream()) continue;
        std::ifstream in(fontFile(fontName(o)), std::ios::binary);
        const std::string whole((std::istreambuf_iterator<char>(in)), {});
        if (whole.empty()) return false;
        file.replaceStreamData(whole, Object::newNull(), Object::newNull());
        file.getDict().replaceKey("/Length1", Object::newInteger(static_cast<long long>(whole.size())));
        ++replaced;
    }
    if (replaced == 0) return false;
    QPDFWriter writer(pdf, to.c_str());
    writer.setCompressStreams(false);  // a font collection is large to deflate again
    writer.write();
    return true;
}

std::string withoutDates(std::string bytes) {
    bytes = std::regex_replace(bytes, std::regex("D:[0-9]{14}Z"), "D:--------------Z");
    return std::regex_replace(bytes, std::regex("/ID \\[ *<[0-9a-f]*> *<[0-9a-f]*> *\\]"), "/ID []");
}

}  // namespace support
