// Uncompressed 24-bit Windows bitmaps, streamed bottom row first from a picture.
#pragma once

#include <cstdint>
#include <string>
#include <system_error>
#include <vector>

#include "capture/Image.h"

namespace capture {

// The file and info headers (54 bytes) of a bottom-up 24-bit bitmap.
std::vector<std::uint8_t> bitmapHeader(int width, int height);
// The whole file's size; a bitmap whose size passes its 32-bit size field cannot be written.
std::uint64_t bitmapFileBytes(int width, int height);
bool bitmapFits(int width, int height);

// Writes the picture to `path` as a bitmap, whatever the name's extension, atomically
// (see writeAtomically). A picture too large for the format is refused before
// anything is written (file_too_large).
std::error_code writeBitmapFile(const Image& image, const std::string& path);
// The same into an open, empty file.
std::error_code writeBitmapTo(int fd, const Image& image);

}  // namespace capture
