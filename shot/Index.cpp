#include "shot/Index.h"

#include <cctype>
#include <filesystem>

#include "capture/AtomicFile.h"
#include "capture/ImageFiles.h"
#include "capture/PictureReader.h"
#include "capture/Thumbnail.h"
#include "shot/Messages.h"

namespace shot {

namespace {

namespace fs = std::filesystem;

std::string html(const std::string& s) {
    std::string out;
    for (char c : s) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            case '\'': out += "&#39;"; break;
            default: out += c;
        }
    }
    return out;
}

// A relative link to a file: every byte but the plainest percent-encoded, and never
// read as an address of its own ("a:b").
std::string link(const std::string& relative) {
    std::string out = "./";
    for (unsigned char c : relative) {
        if (std::isalnum(c) || c == '.' || c == '-' || c == '_' || c == '~' || c == '/') out += static_cast<char>(c);
        else out += format("%%%02X", c);
    }
    return html(out);
}

constexpr const char* kStyle =
    "body{margin:0;padding:16px;font:14px/1.4 sans-serif;background:#f3f3f3;color:#222}"
    "h1{font-size:18px;margin:0 0 12px}"
    ".cards{display:grid;grid-template-columns:repeat(auto-fill,minmax(300px,1fr));gap:16px}"
    ".card{background:#fff;border:1px solid #ccc;border-top:4px solid #3a3;border-radius:4px;overflow:hidden}"
    ".card.incomplete{border-top-color:#e90}.card.failed{border-top-color:#d22}"
    ".thumb{display:block;aspect-ratio:4/3;overflow:hidden;background:#e6e6e6}"
    ".thumb img{display:block;width:100%;height:auto}"
    ".none{display:flex;align-items:center;justify-content:center;color:#888}"
    ".about{padding:8px 12px}.about p{margin:0 0 4px;overflow-wrap:anywhere}"
    ".title{font-weight:bold}.address,.facts,.message{font-size:12px;color:#555}"
    ".status{font-weight:bold}.failed .status,.failed .message{color:#b00}.incomplete .status{color:#a60}";

std::string card(const IndexCard& c) {
    const PageReport& p = c.page;
    const char* kind = p.status == Status::Ok ? "ok" : p.status == Status::Incomplete ? "incomplete" : "failed";
    std::string out = std::string("<article class=\"card ") + kind + "\">";
    const std::string image = c.thumbnail.empty() ? "<span>" + html(tr("no picture")) + "</span>"
                                                  : "<img src=\"" + link(c.thumbnail) + "\" alt=\"\">";
    if (c.picture.empty()) out += "<div class=\"thumb none\">" + image + "</div>";
    else out += "<a class=\"thumb" + std::string(c.thumbnail.empty() ? " none" : "") + "\" href=\"" + link(c.picture) + "\">" + image + "</a>";
    out += "<div class=\"about\"><p class=\"title\">" + html(p.title.empty() ? p.address : p.title) + "</p>";
    out += "<p class=\"address\">" + html(p.address);
    if (!p.finalAddress.empty() && p.finalAddress != p.address) out += " &rarr; " + html(p.finalAddress);
    out += "</p><p class=\"facts\"><span class=\"status\">" + html(statusName(p.status)) + "</span>";
    if (written(p.status) && p.pages > 0) out += " &middot; " + html(format(trn("%d page", "%d pages", p.pages), p.pages));
    else if (written(p.status)) out += " &middot; " + html(format(tr("%d x %d px"), p.width, p.height));
    if (p.httpStatus) out += " &middot; " + html(format(tr("HTTP %d"), p.httpStatus));
    out += " &middot; " + html(format(tr("%.1f s"), static_cast<double>(p.milliseconds) / 1000)) + "</p>";
    if (!p.message.empty()) out += "<p class=\"message\">" + html(p.message) + "</p>";
    return out + "</div></article>\n";
}

}  // namespace

std::string thumbnailPath(const std::string& picture) {
    const fs::path p(picture);
    return (p.parent_path() / "thumbs" / p.stem()).string() + ".jpg";
}

std::error_code writeThumbnail(const capture::Image& image, const std::string& picture) {
    const auto small = capture::thumbnail(image, kThumbnailWidth, kThumbnailHeight);
    if (!small) return std::make_error_code(std::errc::invalid_argument);
    const std::string path = thumbnailPath(picture);
    std::error_code ec;
    fs::create_directories(fs::path(path).parent_path(), ec);
    if (ec) return ec;
    return capture::writeImageFile(*small, path, capture::Format::Jpeg, {85, false});
}

std::error_code writeThumbnail(const std::uint8_t* file, std::size_t size, const std::string& picture) {
    // As many rows as the small picture's height takes at its scale.
    const auto top = capture::readTopRows(file, size, [](int width) {
        return width > kThumbnailWidth ? (kThumbnailHeight * width + kThumbnailWidth - 1) / kThumbnailWidth
                                       : kThumbnailHeight;
    });
    if (!top) return std::make_error_code(std::errc::illegal_byte_sequence);
    return writeThumbnail(*top, picture);
}

void sayThumbnailFailure(const std::error_code& error, std::string& message) {
    if (!error) return;
    if (!message.empty()) message += "; ";
    message += format(tr("no small picture for the contact sheet: %s"), error.message().c_str());
}

std::string indexPage(const std::vector<IndexCard>& cards) {
    std::size_t wrote = 0;
    for (const auto& c : cards) wrote += written(c.page.status);
    const std::string heading =
        html(format(trn("%zu page: %zu written, %zu failed", "%zu pages: %zu written, %zu failed",
                        static_cast<long>(cards.size())),
                    cards.size(), wrote, cards.size() - wrote));
    std::string out = "<!doctype html>\n<html><head><meta charset=\"utf-8\">"
                      "<meta name=\"viewport\" content=\"width=device-width\"><title>" + heading + "</title><style>" +
                      kStyle + "</style></head>\n<body><h1>" + heading + "</h1>\n<main class=\"cards\">\n";
    for (const auto& c : cards) out += card(c);
    return out + "</main></body></html>\n";
}

std::error_code writeIndex(const std::string& dir, const std::vector<PageReport>& pages) {
    std::vector<IndexCard> cards;
    for (const auto& p : pages) {
        IndexCard c{p, {}, {}};
        std::error_code ec;
        if (written(p.status) && !p.file.empty() && fs::equivalent(fs::path(p.file).parent_path(), dir, ec)) {
            c.picture = fs::path(p.file).filename().string();
            // Only a small picture made after the picture is of it: one an earlier run left
            // is not, nor is whatever else holds its name.
            const std::string thumb = thumbnailPath(p.file);
            std::error_code made, taken;
            if (fs::is_regular_file(thumb, ec) &&
                fs::last_write_time(thumb, made) >= fs::last_write_time(p.file, taken) && !made && !taken)
                c.thumbnail = "thumbs/" + fs::path(thumb).filename().string();
        }
        cards.push_back(std::move(c));
    }
    const std::string text = indexPage(cards);
    return capture::writeAtomically(dir + "/index.html",
                                    [&](int fd) { return capture::writeAll(fd, text.data(), text.size()); });
}

}  // namespace shot
