#include "capture/BitmapWriter.h"

#include <algorithm>
#include <cstring>
#include <future>

#include "capture/AtomicFile.h"

namespace capture {

namespace {

void put16(std::vector<std::uint8_t>& out, std::size_t at, std::uint16_t v) {
    out[at] = v & 0xFF;
    out[at + 1] = v >> 8;
}

void put32(std::vector<std::uint8_t>& out, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out[at + i] = (v >> (8 * i)) & 0xFF;
}

std::size_t rowBytes(int width) { return (static_cast<std::size_t>(width) * 3 + 3) & ~std::size_t{3}; }

constexpr std::size_t kChunkBytes = 4u << 20;

// Converts `rows` rows, counted from the bottom from `first` on, into `out`.
std::size_t convertRows(const Image& image, int first, int rows, std::vector<std::uint8_t>& out) {
    const std::size_t row = rowBytes(image.width());
    out.resize(row * static_cast<std::size_t>(rows));
    const std::uint32_t back = image.back();
    for (int i = 0; i < rows; ++i) {
        const int y = image.height() - 1 - (first + i);
        std::uint8_t* dst = out.data() + static_cast<std::size_t>(i) * row;
        const std::uint32_t* src = image.row(y);
        for (int x = 0; x < image.width(); ++x) {
            // 0xXXRRGGBB: blue, green, red as the bitmap wants them.
            const std::uint32_t px = src ? src[x] : back;
            dst[3 * x] = px & 0xFF;
            dst[3 * x + 1] = (px >> 8) & 0xFF;
            dst[3 * x + 2] = (px >> 16) & 0xFF;
        }
        std::memset(dst + 3 * static_cast<std::size_t>(image.width()), 0, row - 3 * static_cast<std::size_t>(image.width()));
    }
    return out.size();
}

// The rows go out in chunks; the next chunk is converted while the last one is written.
std::error_code streamRows(int fd, const Image& image) {
    const auto header = bitmapHeader(image.width(), image.height());
    if (auto e = writeAll(fd, header.data(), header.size())) return e;
    const int rowsPerChunk = static_cast<int>(std::max<std::size_t>(1, kChunkBytes / std::max<std::size_t>(rowBytes(image.width()), 1)));
    std::vector<std::uint8_t> buffers[2];
    int done = 0, turn = 0;
    std::size_t ready = 0;
    if (image.height() > 0) ready = convertRows(image, 0, std::min(rowsPerChunk, image.height()), buffers[0]);
    while (done < image.height()) {
        const int rows = std::min(rowsPerChunk, image.height() - done);
        const int next = done + rows;
        std::future<std::size_t> converting;
        if (next < image.height())
            converting = std::async(std::launch::async, convertRows, std::cref(image), next,
                                    std::min(rowsPerChunk, image.height() - next), std::ref(buffers[1 - turn]));
        const auto written = writeAll(fd, buffers[turn].data(), ready);
        if (converting.valid()) ready = converting.get();
        if (written) return written;
        done = next;
        turn = 1 - turn;
    }
    return {};
}

}  // namespace

std::uint64_t bitmapFileBytes(int width, int height) {
    return 54 + static_cast<std::uint64_t>(rowBytes(std::max(0, width))) * static_cast<std::uint64_t>(std::max(0, height));
}

bool bitmapFits(int width, int height) { return bitmapFileBytes(width, height) <= 0xFFFFFFFFull; }

std::vector<std::uint8_t> bitmapHeader(int width, int height) {
    std::vector<std::uint8_t> h(54, 0);
    const auto imageBytes = static_cast<std::uint32_t>(bitmapFileBytes(width, height) - 54);
    h[0] = 'B';
    h[1] = 'M';
    put32(h, 2, 54 + imageBytes);  // file size
    put32(h, 10, 54);              // offset of the pixels
    put32(h, 14, 40);              // BITMAPINFOHEADER
    put32(h, 18, static_cast<std::uint32_t>(width));
    put32(h, 22, static_cast<std::uint32_t>(height));  // positive: bottom-up rows
    put16(h, 26, 1);                                   // planes
    put16(h, 28, 24);                                  // bits a pixel
    put32(h, 30, 0);                                   // BI_RGB, uncompressed
    put32(h, 34, imageBytes);
    put32(h, 38, 3780);  // 96 dots an inch
    put32(h, 42, 3780);
    return h;
}

std::error_code writeBitmapFile(const Image& image, const std::string& path) {
    if (!bitmapFits(image.width(), image.height())) return std::make_error_code(std::errc::file_too_large);
    return writeAtomically(path, [&](int fd) { return streamRows(fd, image); });
}

}  // namespace capture
