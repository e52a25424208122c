#include "snapshot/SnapshotFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

namespace snapshot {

namespace {

void put16(std::vector<std::uint8_t>& out, std::size_t at, std::uint16_t v) {
    out[at] = v & 0xFF;
    out[at + 1] = v >> 8;
}

void put32(std::vector<std::uint8_t>& out, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out[at + i] = (v >> (8 * i)) & 0xFF;
}

std::size_t rowBytes(int width) { return (static_cast<std::size_t>(width) * 3 + 3) & ~std::size_t{3}; }

std::error_code lastError() { return {errno, std::generic_category()}; }

bool writeAll(int fd, const std::uint8_t* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

// Streams the header and the rows, bottom row first, through one large buffer.
bool writeBitmap(int fd, const platform::ImageView& image) {
    const auto header = bitmapHeader(image.width, image.height);
    const std::size_t row = rowBytes(image.width);
    const std::size_t rowsPerChunk = std::max<std::size_t>(1, (4u << 20) / std::max<std::size_t>(row, 1));
    std::vector<std::uint8_t> buffer(header.size() + rowsPerChunk * row);
    std::copy(header.begin(), header.end(), buffer.begin());
    std::size_t used = header.size();

    for (int y = image.height - 1; y >= 0; --y) {
        const std::uint8_t* src = image.pixels + static_cast<std::size_t>(y) * image.stride;
        std::uint8_t* dst = buffer.data() + used;
        for (int x = 0; x < image.width; ++x) {
            // 0xXXRRGGBB in native order: blue, green, red as the bitmap wants them.
            std::uint32_t px;
            std::memcpy(&px, src + 4 * x, 4);
            dst[3 * x] = px & 0xFF;
            dst[3 * x + 1] = (px >> 8) & 0xFF;
            dst[3 * x + 2] = (px >> 16) & 0xFF;
        }
        std::memset(dst + 3 * static_cast<std::size_t>(image.width), 0, row - 3 * static_cast<std::size_t>(image.width));
        used += row;
        if (used + row > buffer.size()) {
            if (!writeAll(fd, buffer.data(), used)) return false;
            used = 0;
        }
    }
    return writeAll(fd, buffer.data(), used);
}

mode_t newFileMode() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

}  // namespace

std::vector<std::uint8_t> bitmapHeader(int width, int height) {
    std::vector<std::uint8_t> h(54, 0);
    const std::uint32_t imageBytes = static_cast<std::uint32_t>(rowBytes(width) * static_cast<std::size_t>(height));
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

std::error_code writeBitmapFile(const platform::ImageView& image, const std::string& path) {
    namespace fs = std::filesystem;
    if (path.empty()) return std::make_error_code(std::errc::invalid_argument);

    struct stat old{};
    const bool replacing = ::stat(path.c_str(), &old) == 0;
    if (replacing) {
        if (S_ISDIR(old.st_mode)) return std::make_error_code(std::errc::is_a_directory);
        // A file its owner made read-only is one they mean to keep, whoever saves.
        if ((old.st_mode & 0222) == 0) return std::make_error_code(std::errc::permission_denied);
    }

    const fs::path target(path);
    fs::path folder = target.parent_path();
    if (folder.empty()) folder = ".";
    // A short hidden name of its own: any name the folder takes, however long, works.
    std::string temp = (folder / ".vemo-snapshot.XXXXXX").string();
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) return lastError();

    std::error_code failure;
    if (!writeBitmap(fd, image) || ::fchmod(fd, replacing ? (old.st_mode & 07777) : newFileMode()) != 0 ||
        ::fsync(fd) != 0)
        failure = lastError();
    if (::close(fd) != 0 && !failure) failure = lastError();
    if (!failure && ::rename(temp.c_str(), path.c_str()) != 0) failure = lastError();
    if (failure) {
        ::unlink(temp.c_str());
        return failure;
    }
    // Make the rename itself durable.
    const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return {};
}

}  // namespace snapshot
