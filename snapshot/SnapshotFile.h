// Writing the snapshot to disk as an uncompressed 24-bit Windows bitmap.
#pragma once

#include <cstdint>
#include <string>
#include <system_error>
#include <vector>

#include "platform/Ui.h"

namespace snapshot {

// The file and info headers (54 bytes) of a bottom-up 24-bit bitmap.
std::vector<std::uint8_t> bitmapHeader(int width, int height);

// Writes the picture to `path` as a bitmap, whatever the name's extension. The new
// picture goes to a temporary file in the same folder, which replaces the old file
// only once it is completely on disk; on failure the old file is untouched, no
// temporary file is left, and the error describes why.
std::error_code writeBitmapFile(const platform::ImageView& image, const std::string& path);

}  // namespace snapshot
