// WebP files through libwebp: lossless by default, lossy at a quality.
#include <webp/encode.h>

#include <cstring>
#include <vector>

#include "capture/AtomicFile.h"
#include "capture/PngEncoder.h"

namespace capture {

std::error_code encodeWebp(int fd, const Image& image, int quality, bool lossless) {
    const int width = image.width(), height = image.height();
    if (width <= 0 || height <= 0 || width > WEBP_MAX_DIMENSION || height > WEBP_MAX_DIMENSION)
        return std::make_error_code(std::errc::invalid_argument);
    // libwebp takes the picture whole, in straight blue, green, red, alpha bytes: 0xAARRGGBB
    // words as they lie in memory on this little-endian machine.
    std::vector<std::uint32_t> pixels(static_cast<std::size_t>(width) * height);
    RowReader rows(image);
    for (int y = 0; y < height; ++y) {
        const std::uint32_t* src = rows.at(y);
        std::uint32_t* out = pixels.data() + static_cast<std::size_t>(y) * width;
        for (int x = 0; x < width; ++x) out[x] = image.alpha() ? unpremultiply(src[x]) : (src[x] | 0xFF000000u);
    }
    const auto* bgra = reinterpret_cast<const std::uint8_t*>(pixels.data());
    std::uint8_t* encoded = nullptr;
    const std::size_t size = lossless ? WebPEncodeLosslessBGRA(bgra, width, height, width * 4, &encoded)
                                      : WebPEncodeBGRA(bgra, width, height, width * 4, static_cast<float>(quality), &encoded);
    if (size == 0) {
        WebPFree(encoded);
        return std::make_error_code(std::errc::not_enough_memory);
    }
    const auto error = writeAll(fd, encoded, size);
    WebPFree(encoded);
    return error;
}

}  // namespace capture
