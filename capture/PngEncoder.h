// PNG files: 8-bit RGB rows, unfiltered, deflated by ISA-L's fast compressor; and JPEG files.
#pragma once

#include <cstdint>
#include <system_error>

#include "capture/Image.h"

namespace capture {

// Writes the whole file to `fd`.
std::error_code encodePng(int fd, const Image& image);
// Red, green and blue of a row of opaque pixels, 3 bytes a pixel: exactly 3 x width
// bytes are written.
void packRgbRow(const std::uint32_t* src, int width, std::uint8_t* out);
// The same as a JPEG of that quality (libjpeg-turbo).
std::error_code encodeJpeg(int fd, const Image& image, int quality);
// The same as a WebP (libwebp), lossless or at a quality; alpha kept where the picture has it.
std::error_code encodeWebp(int fd, const Image& image, int quality, bool lossless);

}  // namespace capture
