// A batch's contact sheet: index.html in its folder, one card a page with a small
// picture, the address, title, size and status, and a link to the whole picture.
// It works from the disk alone: no script, no network, relative links, inline style.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <system_error>
#include <vector>

#include "capture/Image.h"
#include "shot/Report.h"

namespace shot {

inline constexpr int kThumbnailWidth = 320, kThumbnailHeight = 240;

// The small picture of a picture file: thumbs/NAME.jpg in the picture's folder.
std::string thumbnailPath(const std::string& picture);
// Writes it from the picture while that is still in memory.
std::error_code writeThumbnail(const capture::Image&, const std::string& picture);
// Writes it from the picture's file as it came (from a service), reading only the rows
// the small picture shows.
std::error_code writeThumbnail(const std::uint8_t* file, std::size_t size, const std::string& picture);
// Writes it from a PDF written: its first page.
std::error_code writeFirstPageThumbnail(const std::string& document);
// A small picture that could not be written is said in the page's `message` (its picture
// is written all the same; the contact sheet shows the page without one).
void sayThumbnailFailure(const std::error_code&, std::string& message);

struct IndexCard {
    PageReport page;
    std::string picture, thumbnail;  // relative to the index; empty when there is none
};
// The sheet's HTML, every text of the pages escaped.
std::string indexPage(const std::vector<IndexCard>&);

// Writes `dir`/index.html for those pages, linking the pictures and small pictures of
// theirs that are in `dir`.
std::error_code writeIndex(const std::string& dir, const std::vector<PageReport>&);

}  // namespace shot
