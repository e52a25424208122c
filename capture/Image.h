// A picture of any size, held as horizontal bands of 32-bit pixels (0xXXRRGGBB in
// native byte order). Bands may be memory the picture owns or buffers adopted from
// elsewhere (an engine's paint, say), kept alive by the band itself: nothing is copied.
// Rows no band covers are the back colour.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace capture {

struct Band {
    int top = 0;          // the band's first row in the picture
    int height = 0;       // rows of the band that belong to the picture
    std::size_t stride = 0;
    const std::uint8_t* pixels = nullptr;  // the band's first row, at least `width` pixels wide
    std::shared_ptr<const void> keep;      // whatever owns the pixels
};

class Image {
public:
    Image() = default;
    Image(int width, int height, std::uint32_t back);

    int width() const { return width_; }
    int height() const { return height_; }
    std::uint32_t back() const { return back_; }
    const std::vector<Band>& bands() const { return bands_; }
    // Whether the pixels' top bytes are alpha (premultiplied, as the engine paints) or unused.
    bool alpha() const { return alpha_; }
    void setAlpha(bool a) { alpha_ = a; }

    // Adds a band below those already held; rows past the picture's height are left out.
    void append(Band band);
    // A band of fresh memory of `rows` rows from row `top` on (at least the next free
    // row), to be written by the caller; null when no row of it is in the picture.
    std::uint32_t* appendOwned(int top, int rows);

    // The pixels of row y, or null where no band holds it (the back colour there).
    const std::uint32_t* row(int y) const;
    std::uint32_t at(int x, int y) const;  // 0xRRGGBB

private:
    int width_ = 0, height_ = 0;
    std::uint32_t back_ = 0;
    bool alpha_ = false;
    std::vector<Band> bands_;
};

// The part of a picture from (x, y), `width` x `height` pixels, sharing its pixels; null
// when that part is not wholly inside it.
std::shared_ptr<Image> crop(const Image&, int x, int y, int width, int height);

// A premultiplied 0xAARRGGBB pixel as a straight one.
inline std::uint32_t unpremultiply(std::uint32_t p) {
    const std::uint32_t a = p >> 24;
    if (a == 255) return p;
    if (a == 0) return 0;
    auto c = [&](int shift) { return std::min<std::uint32_t>(255, (((p >> shift) & 0xFF) * 255 + a / 2) / a) << shift; };
    return a << 24 | c(16) | c(8) | c(0);
}

// Reads a picture row by row for writing: the row as stored, or one of the back colour.
class RowReader {
public:
    explicit RowReader(const Image& image) : image_(image) {}
    const std::uint32_t* at(int y) {
        if (const auto* r = image_.row(y)) return r;
        if (blank_.empty()) blank_.assign(static_cast<std::size_t>(image_.width()), image_.back());
        return blank_.data();
    }

private:
    const Image& image_;
    std::vector<std::uint32_t> blank_;
};

// Bytes a picture of that size takes in memory.
inline std::uint64_t imageBytes(int width, int height) {
    return static_cast<std::uint64_t>(width > 0 ? width : 0) * static_cast<std::uint64_t>(height > 0 ? height : 0) * 4;
}

// The memory the system can still give, from the kernel's own estimate; empty when unknown.
std::optional<std::uint64_t> availableMemory();

}  // namespace capture
