// PNG, JPEG and WebP files decoded by other libraries than the ones the programs write with.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace support {

// A picture as 0xRRGGBB pixels, row after row, and the alpha of each where the file has it.
struct Picture {
    int width = 0, height = 0;
    std::vector<std::uint32_t> pixels;
    std::vector<std::uint8_t> alphas;  // empty: opaque
    std::uint32_t at(int x, int y) const { return pixels[static_cast<std::size_t>(y) * width + x]; }
    int alpha(int x, int y) const { return alphas.empty() ? 255 : alphas[static_cast<std::size_t>(y) * width + x]; }
};

// Empty when the bytes are no valid file of the format (a wrong check sum included).
std::optional<Picture> decodePng(const std::string& bytes);
std::optional<Picture> decodeJpeg(const std::string& bytes);
std::optional<Picture> decodeWebp(const std::string& bytes);

}  // namespace support
