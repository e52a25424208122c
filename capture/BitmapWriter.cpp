#include "capture/BitmapWriter.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
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
constexpr std::size_t kBlock = 4096;  // writes that pass the page cache go in whole blocks

// Converts `rows` rows, counted from the bottom from `first` on, to `out`: four
// pixels at a time into twelve bytes, blue, green, red as the bitmap wants them.
void convertRows(const Image& image, int first, int rows, std::uint8_t* out) {
    const std::size_t row = rowBytes(image.width());
    const int w = image.width();
    RowReader reader(image);
    for (int i = 0; i < rows; ++i) {
        std::uint8_t* dst = out + static_cast<std::size_t>(i) * row;
        const std::uint32_t* src = reader.at(image.height() - 1 - (first + i));
        int x = 0;
        for (; x + 4 <= w; x += 4) {
            const std::uint32_t a = src[x] & 0xFFFFFF, b = src[x + 1] & 0xFFFFFF, c = src[x + 2] & 0xFFFFFF,
                                d = src[x + 3] & 0xFFFFFF;
            const std::uint32_t o[3] = {a | b << 24, b >> 8 | c << 16, c >> 16 | d << 8};  // little-endian words
            std::memcpy(dst + 3 * x, o, 12);
        }
        for (; x < w; ++x) {
            const std::uint32_t px = src[x];
            dst[3 * x] = px & 0xFF;
            dst[3 * x + 1] = (px >> 8) & 0xFF;
            dst[3 * x + 2] = (px >> 16) & 0xFF;
        }
        std::memset(dst + 3 * static_cast<std::size_t>(w), 0, row - 3 * static_cast<std::size_t>(w));
    }
}

struct AlignedBuffer {
    explicit AlignedBuffer(std::size_t size) : data(static_cast<std::uint8_t*>(std::aligned_alloc(kBlock, size))) {}
    ~AlignedBuffer() { std::free(data); }
    AlignedBuffer(const AlignedBuffer&) = delete;
    AlignedBuffer& operator=(const AlignedBuffer&) = delete;
    std::uint8_t* data;
};

// Writes straight to the disk where the file system allows it, past the page cache:
// the data is then on disk as the writes return, and the flush that follows is short.
std::error_code writeBlocks(int fd, const std::uint8_t* data, std::size_t size, bool& direct) {
    if (direct) {
        const ssize_t n = ::write(fd, data, size);
        if (n == static_cast<ssize_t>(size)) return {};
        // Not for this file system after all: on through the page cache.
        direct = false;
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_DIRECT);
        if (n > 0) {
            data += n;
            size -= static_cast<std::size_t>(n);
        }
    }
    return writeAll(fd, data, size);
}

// The file is header and rows, bottom row first. The rows go out in chunks of whole
// blocks; the next chunk is converted while the last one is written. The part of a
// chunk short of a whole block goes out at the head of the next.
std::error_code streamRows(int fd, const Image& image) {
    const std::size_t row = rowBytes(image.width());
    const std::uint64_t total = bitmapFileBytes(image.width(), image.height());
    const int rowsPerChunk = static_cast<int>(std::max<std::size_t>(1, kChunkBytes / std::max<std::size_t>(row, 1)));
    const std::size_t capacity = ((static_cast<std::size_t>(rowsPerChunk) * row + 2 * kBlock) / kBlock + 1) * kBlock;
    AlignedBuffer buffers[2] = {AlignedBuffer(capacity), AlignedBuffer(capacity)};
    if (!buffers[0].data || !buffers[1].data) return std::make_error_code(std::errc::not_enough_memory);

    const auto header = bitmapHeader(image.width(), image.height());
    if (image.height() <= 0) return writeAll(fd, header.data(), header.size());
    bool direct = ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_DIRECT) == 0;
    // Where the chunk that starts at `firstRow` begins in the file, and in its buffer.
    auto fileStart = [&](int firstRow) { return 54 + static_cast<std::uint64_t>(firstRow) * row; };
    auto lead = [&](int firstRow) { return static_cast<std::size_t>(fileStart(firstRow) % kBlock); };

    std::memcpy(buffers[0].data, header.data(), header.size());
    int done = 0, turn = 0;
    convertRows(image, 0, std::min(rowsPerChunk, image.height()), buffers[0].data + lead(0));
    while (done < image.height()) {
        const int rows = std::min(rowsPerChunk, image.height() - done);
        const int next = done + rows;
        std::future<void> converting;
        if (next < image.height())
            converting = std::async(std::launch::async, convertRows, std::cref(image), next,
                                    std::min(rowsPerChunk, image.height() - next), buffers[1 - turn].data + lead(next));
        const std::uint64_t end = fileStart(next);
        const std::size_t filled = lead(done) + static_cast<std::size_t>(rows) * row;
        // The last chunk goes out padded to a whole block; the file is cut to size after.
        const std::size_t out = next < image.height() ? filled - static_cast<std::size_t>(end % kBlock)
                                                      : (filled + kBlock - 1) / kBlock * kBlock;
        const auto written = writeBlocks(fd, buffers[turn].data, out, direct);
        if (converting.valid()) converting.get();
        if (written) return written;
        if (next < image.height()) std::memcpy(buffers[1 - turn].data, buffers[turn].data + out, filled - out);
        done = next;
        turn = 1 - turn;
    }
    if (::ftruncate(fd, static_cast<off_t>(total)) != 0) return {errno, std::generic_category()};
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

std::error_code writeBitmapTo(int fd, const Image& image) {
    if (!bitmapFits(image.width(), image.height())) return std::make_error_code(std::errc::file_too_large);
    return streamRows(fd, image);
}

}  // namespace capture
