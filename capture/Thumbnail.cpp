#include "capture/Thumbnail.h"

#include <algorithm>
#include <cstdint>
#include <vector>

namespace capture {

std::shared_ptr<Image> thumbnail(const Image& image, int width, int maxHeight) {
    const long w = image.width(), h = image.height();
    if (w <= 0 || h <= 0 || width <= 0 || maxHeight <= 0) return nullptr;
    const long tw = std::min<long>(width, w);
    // Each thumbnail pixel covers w / tw source pixels each way.
    const long th = std::min<long>(maxHeight, (h * tw + w - 1) / w);
    auto out = std::make_shared<Image>(static_cast<int>(tw), static_cast<int>(th), 0xFFFFFF);
    std::uint32_t* pixels = out->appendOwned(0, static_cast<int>(th));
    std::vector<long> x0(static_cast<std::size_t>(tw) + 1);
    for (long ox = 0; ox <= tw; ++ox) x0[static_cast<std::size_t>(ox)] = ox * w / tw;
    std::vector<std::uint64_t> sums(static_cast<std::size_t>(tw) * 4);
    RowReader rows(image);
    const bool alpha = image.alpha();
    for (long oy = 0; oy < th; ++oy) {
        const long y0 = oy * w / tw, y1 = std::min(h, std::max(y0 + 1, (oy + 1) * w / tw));
        std::fill(sums.begin(), sums.end(), 0);
        for (long y = y0; y < y1; ++y) {
            const std::uint32_t* row = rows.at(static_cast<int>(y));
            for (long ox = 0; ox < tw; ++ox) {
                std::uint64_t* s = &sums[static_cast<std::size_t>(ox) * 4];
                for (long x = x0[static_cast<std::size_t>(ox)]; x < x0[static_cast<std::size_t>(ox) + 1]; ++x) {
                    const std::uint32_t p = row[x];
                    s[0] += (p >> 16) & 0xFF;
                    s[1] += (p >> 8) & 0xFF;
                    s[2] += p & 0xFF;
                    s[3] += alpha ? p >> 24 : 255;
                }
            }
        }
        for (long ox = 0; ox < tw; ++ox) {
            const std::uint64_t* s = &sums[static_cast<std::size_t>(ox) * 4];
            const std::uint64_t n = static_cast<std::uint64_t>(y1 - y0) *
                                    static_cast<std::uint64_t>(x0[static_cast<std::size_t>(ox) + 1] - x0[static_cast<std::size_t>(ox)]);
            // Premultiplied colour over white: what the alpha leaves uncovered is white.
            const std::uint64_t uncovered = 255 - std::min<std::uint64_t>(255, (s[3] + n / 2) / n);
            auto channel = [&](int i) { return std::min<std::uint64_t>(255, (s[i] + n / 2) / n + uncovered); };
            pixels[oy * tw + ox] = static_cast<std::uint32_t>(0xFF000000u | channel(0) << 16 | channel(1) << 8 | channel(2));
        }
    }
    return out;
}

}  // namespace capture
