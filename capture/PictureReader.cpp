#include "capture/PictureReader.h"

#include <isa-l/igzip_lib.h>
#include <jpeglib.h>
#include <webp/decode.h>

#include <algorithm>
#include <csetjmp>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace capture {

namespace {

using RowsFor = std::function<int(int)>;

std::uint32_t big32(const std::uint8_t* p) {
    return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 | p[3];
}
std::uint32_t little32(const std::uint8_t* p) {
    return std::uint32_t{p[3]} << 24 | std::uint32_t{p[2]} << 16 | std::uint32_t{p[1]} << 8 | p[0];
}

// A straight 0xAARRGGBB pixel as the premultiplied one pictures hold.
std::uint32_t premultiplied(std::uint32_t a, std::uint32_t r, std::uint32_t g, std::uint32_t b) {
    auto m = [a](std::uint32_t c) { return (c * a + 127) / 255; };
    return a << 24 | m(r) << 16 | m(g) << 8 | m(b);
}

int paeth(int a, int b, int c) {
    const int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
    return pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
}

// A row's filter undone, given the row above it (zeros above the first).
bool unfilter(std::uint8_t kind, std::uint8_t* row, const std::uint8_t* up, std::size_t bytes, std::size_t step) {
    for (std::size_t i = 0; i < bytes; ++i) {
        const int left = i >= step ? row[i - step] : 0, above = up[i], corner = i >= step ? up[i - step] : 0;
        int add = 0;
        switch (kind) {
            case 0: add = 0; break;
            case 1: add = left; break;
            case 2: add = above; break;
            case 3: add = (left + above) / 2; break;
            case 4: add = paeth(left, above, corner); break;
            default: return false;
        }
        row[i] = static_cast<std::uint8_t>(row[i] + add);
    }
    return true;
}

// 8-bit RGB or RGBA, not interlaced: what the PNG writer here makes.
std::shared_ptr<Image> readPng(const std::uint8_t* p, std::size_t n, const RowsFor& rowsFor) {
    if (n < 33 || std::memcmp(p + 12, "IHDR", 4) != 0) return nullptr;
    const auto width = static_cast<int>(big32(p + 16)), height = static_cast<int>(big32(p + 20));
    const int depth = p[24], kind = p[25], interlaced = p[28];
    if (width <= 0 || height <= 0 || depth != 8 || (kind != 2 && kind != 6) || interlaced) return nullptr;
    const std::size_t step = kind == 6 ? 4 : 3, bytes = static_cast<std::size_t>(width) * step;
    const int rows = std::min(rowsFor(width), height);
    if (rows <= 0) return nullptr;
    auto image = std::make_shared<Image>(width, rows, 0xFFFFFF);
    image->setAlpha(kind == 6);
    std::uint32_t* out = image->appendOwned(0, rows);
    std::vector<std::uint8_t> row(bytes + 1), up(bytes + 1, 0);
    inflate_state z;
    isal_inflate_init(&z);
    z.crc_flag = ISAL_ZLIB;
    std::size_t at = 8;
    // The data chunks' bytes, one after another, as the inflater asks for them.
    auto nextData = [&]() -> bool {
        while (at + 12 <= n) {
            const std::size_t length = big32(p + at);
            if (length > n - at - 12) return false;
            const std::uint8_t* data = p + at + 8;
            const bool picture = std::memcmp(p + at + 4, "IDAT", 4) == 0 && length > 0;
            at += length + 12;
            if (!picture) continue;
            z.next_in = const_cast<std::uint8_t*>(data);
            z.avail_in = static_cast<std::uint32_t>(length);
            return true;
        }
        return false;
    };
    for (int y = 0; y < rows; ++y, out += width) {
        z.next_out = row.data();
        z.avail_out = static_cast<std::uint32_t>(row.size());
        while (z.avail_out > 0) {
            if (z.avail_in == 0) nextData();  // with none left, the inflater may still hold rows
            const auto input = z.avail_in, room = z.avail_out;
            // A call that takes nothing and gives nothing: the file is damaged or cut short.
            if (isal_inflate(&z) < 0 || (z.avail_in == input && z.avail_out == room)) return nullptr;
        }
        if (!unfilter(row[0], row.data() + 1, up.data() + 1, bytes, step)) return nullptr;
        for (int x = 0; x < width; ++x) {
            const std::uint8_t* c = row.data() + 1 + static_cast<std::size_t>(x) * step;
            out[x] = step == 4 ? premultiplied(c[3], c[0], c[1], c[2]) : std::uint32_t{c[0]} << 16 | std::uint32_t{c[1]} << 8 | c[2];
        }
        std::swap(row, up);
    }
    return image;
}

struct JpegError {
    jpeg_error_mgr manager{};
    std::jmp_buf jump{};
};

// libjpeg reports errors by a jump out of its own calls; between the jump's start and
// its landing here lie only libjpeg's frames and this function's, none with an object
// that needs its destructor: the image is made before the jump can start.
bool decompressJpeg(jpeg_decompress_struct& cinfo, JpegError& error, const std::uint8_t* p, std::size_t n,
                    const RowsFor& rowsFor, std::shared_ptr<Image>& image) {
    cinfo.err = jpeg_std_error(&error.manager);
    error.manager.error_exit = [](j_common_ptr c) { std::longjmp(reinterpret_cast<JpegError*>(c->err)->jump, 1); };
    if (setjmp(error.jump)) {
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, p, static_cast<unsigned long>(n));
    jpeg_read_header(&cinfo, TRUE);
    cinfo.out_color_space = JCS_EXT_BGRX;
    jpeg_start_decompress(&cinfo);
    const int height = std::min(rowsFor(static_cast<int>(cinfo.output_width)), static_cast<int>(cinfo.output_height));
    if (height <= 0) {
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    image = std::make_shared<Image>(static_cast<int>(cinfo.output_width), height, 0xFFFFFF);
    std::uint32_t* out = image->appendOwned(0, height);
    for (int y = 0; y < height; ++y) {
        JSAMPROW line = reinterpret_cast<JSAMPROW>(out + static_cast<std::size_t>(y) * cinfo.output_width);
        if (jpeg_read_scanlines(&cinfo, &line, 1) != 1) break;
    }
    jpeg_abort_decompress(&cinfo);  // the rows below are not needed
    jpeg_destroy_decompress(&cinfo);
    return true;
}

std::shared_ptr<Image> readJpeg(const std::uint8_t* p, std::size_t n, const RowsFor& rowsFor) {
    jpeg_decompress_struct cinfo{};
    JpegError error;
    std::shared_ptr<Image> image;
    return decompressJpeg(cinfo, error, p, n, rowsFor, image) ? image : nullptr;
}

std::shared_ptr<Image> readWebp(const std::uint8_t* p, std::size_t n, const RowsFor& rowsFor) {
    WebPDecoderConfig config;
    if (!WebPInitDecoderConfig(&config) || WebPGetFeatures(p, n, &config.input) != VP8_STATUS_OK) return nullptr;
    const int width = config.input.width, height = config.input.height;
    const int rows = std::min(rowsFor(width), height);
    if (rows <= 0) return nullptr;
    // Only the rows asked for are decoded, and only they take memory: the decoder stops
    // at the crop's last row, lossy and lossless alike.
    config.options.use_cropping = 1;
    config.options.crop_left = config.options.crop_top = 0;
    config.options.crop_width = width;
    config.options.crop_height = rows;
    config.output.colorspace = MODE_BGRA;
    if (WebPDecode(p, n, &config) != VP8_STATUS_OK) {
        WebPFreeDecBuffer(&config.output);
        return nullptr;
    }
    const bool alpha = config.input.has_alpha != 0;
    auto image = std::make_shared<Image>(width, rows, 0xFFFFFF);
    image->setAlpha(alpha);
    std::uint32_t* out = image->appendOwned(0, rows);
    const auto& decoded = config.output.u.RGBA;
    for (int y = 0; y < rows; ++y, out += width) {
        const std::uint8_t* line = decoded.rgba + static_cast<std::size_t>(decoded.stride) * static_cast<std::size_t>(y);
        for (int x = 0; x < width; ++x) {
            const std::uint8_t* c = line + static_cast<std::size_t>(x) * 4;
            out[x] = premultiplied(alpha ? c[3] : 255, c[2], c[1], c[0]);
        }
    }
    WebPFreeDecBuffer(&config.output);
    return image;
}

// Uncompressed 24-bit, bottom row first, as the bitmap writer here makes them.
std::shared_ptr<Image> readBitmap(const std::uint8_t* p, std::size_t n, const RowsFor& rowsFor) {
    if (n < 54) return nullptr;
    const std::uint32_t offset = little32(p + 10);
    const auto width = static_cast<int>(little32(p + 18)), height = static_cast<int>(little32(p + 22));
    const int bits = p[28] | p[29] << 8;
    if (width <= 0 || height <= 0 || bits != 24 || little32(p + 30) != 0) return nullptr;
    const std::size_t stride = (static_cast<std::size_t>(width) * 3 + 3) & ~std::size_t{3};
    if (offset > n || stride * static_cast<std::size_t>(height) > n - offset) return nullptr;
    const int rows = std::min(rowsFor(width), height);
    if (rows <= 0) return nullptr;
    auto image = std::make_shared<Image>(width, rows, 0xFFFFFF);
    std::uint32_t* out = image->appendOwned(0, rows);
    for (int y = 0; y < rows; ++y, out += width) {
        const std::uint8_t* line = p + offset + stride * static_cast<std::size_t>(height - 1 - y);
        for (int x = 0; x < width; ++x)
            out[x] = std::uint32_t{line[x * 3 + 2]} << 16 | std::uint32_t{line[x * 3 + 1]} << 8 | line[x * 3];
    }
    return image;
}

}  // namespace

std::shared_ptr<Image> readTopRows(const std::uint8_t* bytes, std::size_t size, const RowsFor& rows) {
    if (!bytes) return nullptr;
    if (size >= 8 && std::memcmp(bytes, "\x89PNG\r\n\x1a\n", 8) == 0) return readPng(bytes, size, rows);
    if (size >= 3 && bytes[0] == 0xFF && bytes[1] == 0xD8 && bytes[2] == 0xFF) return readJpeg(bytes, size, rows);
    if (size >= 12 && std::memcmp(bytes, "RIFF", 4) == 0 && std::memcmp(bytes + 8, "WEBP", 4) == 0)
        return readWebp(bytes, size, rows);
    if (size >= 2 && bytes[0] == 'B' && bytes[1] == 'M') return readBitmap(bytes, size, rows);
    return nullptr;
}

}  // namespace capture
