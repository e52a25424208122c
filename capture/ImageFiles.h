// Pictures to files in the formats the capture command offers: PNG, JPEG, BMP and WebP;
// and the name of the one format that is a document, not a picture: PDF.
// Every file appears only when complete (see writeAtomically).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <system_error>

#include "capture/Image.h"

namespace capture {

enum class Format { Png, Jpeg, Bmp, Webp, Pdf };

// The format a file name asks for by its extension, in any case; empty for another.
std::optional<Format> formatForName(const std::string& name);
const char* formatName(Format);
const char* formatExtension(Format);

// Why a picture cannot go into a format, or nothing when it can: "JPEG holds at most
// 65535 pixels a side", say.
struct FormatLimit {
    std::string limit;     // what the format holds
    Format instead;        // a format that holds the picture
};
std::optional<FormatLimit> formatRefuses(Format, int width, int height);

struct WriteOptions {
    int jpegQuality = 90;  // 1 to 100, for JPEG and a lossy WebP
    bool lossless = true;  // WebP
};

// Whether a format keeps a picture's transparency.
bool formatHasAlpha(Format);

// Writes the picture; a picture the format cannot hold is refused before anything
// is written (file_too_large), and a picture is never written as PDF (invalid_argument).
std::error_code writeImageFile(const Image&, const std::string& path, Format, const WriteOptions& = {});
// The same into a file already open and empty, which its opener makes appear.
std::error_code writeImageTo(int fd, const Image&, Format, const WriteOptions& = {});

}  // namespace capture
