#include "capture/ImageFiles.h"

#include <jpeglib.h>
#include <spng.h>

#include <algorithm>
#include <cctype>
#include <csetjmp>
#include <vector>

#include "capture/AtomicFile.h"
#include "capture/BitmapWriter.h"

namespace capture {

namespace {

constexpr int kJpegLargest = 65535;
// PNG: the fastest deflate level without row filters. Measured on a 1280 x 13460 px
// text page: 2.9 MB in 127 ms, against 3.0 MB in 533 ms with the filters chosen row by
// row, 2.9 MB in 977 ms at level 6, and 3.3 MB for Chromium's own picture of the page.
// Flat colour compresses less well without filters (254 KB against 81 KB for a page of
// colour bands), but such pictures are small whatever is chosen.
constexpr int kPngLevel = 1;
constexpr int kPngFilters = SPNG_FILTER_CHOICE_NONE;

std::string lower(std::string s) {
    for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

int pngWrite(spng_ctx*, void* user, void* data, std::size_t length) {
    const int fd = *static_cast<int*>(user);
    return writeAll(fd, data, length) ? SPNG_IO_ERROR : 0;
}

std::error_code encodePng(int fd, const Image& image) {
    spng_ctx* ctx = spng_ctx_new(SPNG_CTX_ENCODER);
    if (!ctx) return std::make_error_code(std::errc::not_enough_memory);
    struct Free {
        spng_ctx* c;
        ~Free() { spng_ctx_free(c); }
    } release{ctx};
    int out = fd;
    spng_set_png_stream(ctx, pngWrite, &out);
    spng_set_option(ctx, SPNG_IMG_COMPRESSION_LEVEL, kPngLevel);
    spng_set_option(ctx, SPNG_FILTER_CHOICE, kPngFilters);
    spng_ihdr ihdr{};
    ihdr.width = static_cast<std::uint32_t>(image.width());
    ihdr.height = static_cast<std::uint32_t>(image.height());
    ihdr.bit_depth = 8;
    ihdr.color_type = SPNG_COLOR_TYPE_TRUECOLOR;
    spng_set_ihdr(ctx, &ihdr);
    const std::size_t rowBytes = static_cast<std::size_t>(image.width()) * 3;
    if (spng_encode_image(ctx, nullptr, rowBytes * static_cast<std::size_t>(image.height()), SPNG_FMT_PNG,
                          SPNG_ENCODE_PROGRESSIVE | SPNG_ENCODE_FINALIZE))
        return std::make_error_code(std::errc::io_error);
    RowReader rows(image);
    std::vector<std::uint8_t> rgb(rowBytes);
    for (int y = 0; y < image.height(); ++y) {
        const std::uint32_t* src = rows.at(y);
        for (int x = 0; x < image.width(); ++x) {
            rgb[3 * x] = (src[x] >> 16) & 0xFF;
            rgb[3 * x + 1] = (src[x] >> 8) & 0xFF;
            rgb[3 * x + 2] = src[x] & 0xFF;
        }
        const int r = spng_encode_row(ctx, rgb.data(), rgb.size());
        if (r != 0 && r != SPNG_EOI) return std::make_error_code(std::errc::io_error);
    }
    return {};
}

struct JpegSink {
    jpeg_destination_mgr manager{};
    int fd = -1;
    std::vector<JOCTET> buffer = std::vector<JOCTET>(1 << 20);
    std::error_code failure;
};

struct JpegError {
    jpeg_error_mgr manager{};
    std::jmp_buf jump{};
};

std::error_code encodeJpeg(int fd, const Image& image, int quality) {
    jpeg_compress_struct cinfo{};
    JpegError error;
    cinfo.err = jpeg_std_error(&error.manager);
    error.manager.error_exit = [](j_common_ptr c) { std::longjmp(reinterpret_cast<JpegError*>(c->err)->jump, 1); };
    JpegSink sink;
    sink.fd = fd;
    if (setjmp(error.jump)) {
        jpeg_destroy_compress(&cinfo);
        return sink.failure ? sink.failure : std::make_error_code(std::errc::io_error);
    }
    jpeg_create_compress(&cinfo);
    sink.manager.init_destination = [](j_compress_ptr c) {
        auto* s = reinterpret_cast<JpegSink*>(c->dest);
        s->manager.next_output_byte = s->buffer.data();
        s->manager.free_in_buffer = s->buffer.size();
    };
    sink.manager.empty_output_buffer = [](j_compress_ptr c) -> boolean {
        auto* s = reinterpret_cast<JpegSink*>(c->dest);
        if ((s->failure = writeAll(s->fd, s->buffer.data(), s->buffer.size()))) c->err->error_exit(reinterpret_cast<j_common_ptr>(c));
        s->manager.next_output_byte = s->buffer.data();
        s->manager.free_in_buffer = s->buffer.size();
        return TRUE;
    };
    sink.manager.term_destination = [](j_compress_ptr c) {
        auto* s = reinterpret_cast<JpegSink*>(c->dest);
        if ((s->failure = writeAll(s->fd, s->buffer.data(), s->buffer.size() - s->manager.free_in_buffer)))
            c->err->error_exit(reinterpret_cast<j_common_ptr>(c));
    };
    cinfo.dest = &sink.manager;
    cinfo.image_width = static_cast<JDIMENSION>(image.width());
    cinfo.image_height = static_cast<JDIMENSION>(image.height());
    // 0xXXRRGGBB words lie in memory as blue, green, red, unused: taken as they are.
    cinfo.input_components = 4;
    cinfo.in_color_space = JCS_EXT_BGRX;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, std::clamp(quality, 1, 100), TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    RowReader rows(image);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = reinterpret_cast<JSAMPROW>(const_cast<std::uint32_t*>(rows.at(static_cast<int>(cinfo.next_scanline))));
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    return {};
}

}  // namespace

std::optional<Format> formatForName(const std::string& name) {
    const auto dot = name.find_last_of("./");
    if (dot == std::string::npos || name[dot] != '.') return std::nullopt;
    const auto ext = lower(name.substr(dot + 1));
    if (ext == "png") return Format::Png;
    if (ext == "jpg" || ext == "jpeg") return Format::Jpeg;
    if (ext == "bmp") return Format::Bmp;
    return std::nullopt;
}

const char* formatName(Format f) {
    switch (f) {
        case Format::Png: return "PNG";
        case Format::Jpeg: return "JPEG";
        case Format::Bmp: return "BMP";
    }
    return "";
}

const char* formatExtension(Format f) {
    switch (f) {
        case Format::Png: return ".png";
        case Format::Jpeg: return ".jpg";
        case Format::Bmp: return ".bmp";
    }
    return "";
}

std::optional<FormatLimit> formatRefuses(Format f, int width, int height) {
    switch (f) {
        case Format::Jpeg:
            if (width > kJpegLargest || height > kJpegLargest) return FormatLimit{"65535 x 65535 px", Format::Png};
            return std::nullopt;
        case Format::Bmp:
            if (!bitmapFits(width, height)) return FormatLimit{"4 GiB", Format::Png};
            return std::nullopt;
        case Format::Png: return std::nullopt;  // 2^31 - 1 a side: more than any page
    }
    return std::nullopt;
}

std::error_code writeImageFile(const Image& image, const std::string& path, Format f, const WriteOptions& options) {
    if (formatRefuses(f, image.width(), image.height())) return std::make_error_code(std::errc::file_too_large);
    switch (f) {
        case Format::Png: return writeAtomically(path, [&](int fd) { return encodePng(fd, image); });
        case Format::Jpeg:
            return writeAtomically(path, [&](int fd) { return encodeJpeg(fd, image, options.jpegQuality); });
        case Format::Bmp: return writeBitmapFile(image, path);
    }
    return std::make_error_code(std::errc::invalid_argument);
}

}  // namespace capture
