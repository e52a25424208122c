// PNG files: 8-bit RGB rows, unfiltered, deflated by ISA-L's fast compressor.
#pragma once

#include <system_error>

#include "capture/Image.h"

namespace capture {

// Writes the whole file to `fd`.
std::error_code encodePng(int fd, const Image& image);

}  // namespace capture
