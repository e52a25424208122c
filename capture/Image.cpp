#include "capture/Image.h"

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>

namespace capture {

Image::Image(int width, int height, std::uint32_t back)
    : width_(std::max(0, width)), height_(std::max(0, height)), back_(back & 0xFFFFFFu) {}

void Image::append(Band band) {
    const int top = bands_.empty() ? 0 : bands_.back().top + bands_.back().height;
    band.top = std::max(band.top, top);
    band.height = std::min(band.height, height_ - band.top);
    if (band.height <= 0 || !band.pixels) return;
    bands_.push_back(std::move(band));
}

std::uint32_t* Image::appendOwned(int top, int rows) {
    top = std::max(top, bands_.empty() ? 0 : bands_.back().top + bands_.back().height);
    rows = std::min(rows, height_ - top);
    if (rows <= 0 || width_ <= 0) return nullptr;
    auto memory = std::shared_ptr<std::uint32_t[]>(new std::uint32_t[static_cast<std::size_t>(width_) * rows]);
    Band b{top, rows, static_cast<std::size_t>(width_) * 4, reinterpret_cast<const std::uint8_t*>(memory.get()), memory};
    bands_.push_back(std::move(b));
    return memory.get();
}

const std::uint32_t* Image::row(int y) const {
    if (y < 0 || y >= height_) return nullptr;
    // Bands are in order: find the last one starting at or above y.
    auto it = std::upper_bound(bands_.begin(), bands_.end(), y, [](int v, const Band& b) { return v < b.top; });
    if (it == bands_.begin()) return nullptr;
    --it;
    if (y >= it->top + it->height) return nullptr;
    return reinterpret_cast<const std::uint32_t*>(it->pixels + static_cast<std::size_t>(y - it->top) * it->stride);
}

std::uint32_t Image::at(int x, int y) const {
    if (x < 0 || x >= width_) return back_;
    const auto* r = row(y);
    return r ? (r[x] & 0xFFFFFFu) : back_;
}

std::optional<std::uint64_t> availableMemory() {
    std::ifstream in("/proc/meminfo");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("MemAvailable:", 0) != 0) continue;
        std::istringstream fields(line.substr(13));
        std::uint64_t kib = 0;
        if (fields >> kib) return kib * 1024;
    }
    return std::nullopt;
}

std::shared_ptr<Image> crop(const Image& image, int x, int y, int width, int height) {
    if (x < 0 || y < 0 || width <= 0 || height <= 0 || x + width > image.width() || y + height > image.height())
        return nullptr;
    auto part = std::make_shared<Image>(width, height, image.back());
    part->setAlpha(image.alpha());
    for (const auto& b : image.bands()) {
        const int top = std::max(b.top, y), end = std::min(b.top + b.height, y + height);
        if (top >= end) continue;
        part->append({top - y, end - top, b.stride,
                      b.pixels + static_cast<std::size_t>(top - b.top) * b.stride + static_cast<std::size_t>(x) * 4, b.keep});
    }
    return part;
}

}  // namespace capture
