#include "capture/ImageFiles.h"

#include <jpeglib.h>

#include <algorithm>
#include <cctype>
#include <csetjmp>
#include <vector>

#include "capture/AtomicFile.h"
#include "capture/BitmapWriter.h"
#include "capture/PngEncoder.h"

namespace capture {

namespace {

constexpr int kJpegLargest = 65535;
constexpr int kWebpLargest = 16383;
std::string lower(std::string s) {
    for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
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

// libjpeg reports errors by a jump out of its own calls. Between the jump's start and
// its landing here lie only libjpeg's frames and this function's, and none of them has
// an object with a destructor: the jump skips nothing that needs running.
struct JpegJob {
    jpeg_compress_struct cinfo;
    JpegError error;
    JpegSink* sink;
    RowReader* rows;
    int width, height, quality;
};

bool compressJpeg(JpegJob& job) {
    jpeg_compress_struct& cinfo = job.cinfo;
    cinfo.err = jpeg_std_error(&job.error.manager);
    job.error.manager.error_exit = [](j_common_ptr c) { std::longjmp(reinterpret_cast<JpegError*>(c->err)->jump, 1); };
    if (setjmp(job.error.jump)) {
        jpeg_destroy_compress(&cinfo);
        return false;
    }
    jpeg_create_compress(&cinfo);
    JpegSink& sink = *job.sink;
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
    cinfo.image_width = static_cast<JDIMENSION>(job.width);
    cinfo.image_height = static_cast<JDIMENSION>(job.height);
    // 0xXXRRGGBB words lie in memory as blue, green, red, unused: taken as they are.
    cinfo.input_components = 4;
    cinfo.in_color_space = JCS_EXT_BGRX;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, std::clamp(job.quality, 1, 100), TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row =
            reinterpret_cast<JSAMPROW>(const_cast<std::uint32_t*>(job.rows->at(static_cast<int>(cinfo.next_scanline))));
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    return true;
}

}  // namespace

std::error_code encodeJpeg(int fd, const Image& image, int quality) {
    if (image.width() <= 0 || image.height() <= 0) return std::make_error_code(std::errc::invalid_argument);
    JpegSink sink;
    sink.fd = fd;
    RowReader rows(image);
    JpegJob job{};
    job.sink = &sink;
    job.rows = &rows;
    job.width = image.width();
    job.height = image.height();
    job.quality = quality;
    if (compressJpeg(job)) return {};
    return sink.failure ? sink.failure : std::make_error_code(std::errc::io_error);
}

namespace {

}  // namespace

std::optional<Format> formatForName(const std::string& name) {
    const auto dot = name.find_last_of("./");
    if (dot == std::string::npos || name[dot] != '.') return std::nullopt;
    const auto ext = lower(name.substr(dot + 1));
    if (ext == "png") return Format::Png;
    if (ext == "jpg" || ext == "jpeg") return Format::Jpeg;
    if (ext == "bmp") return Format::Bmp;
    if (ext == "webp") return Format::Webp;
    if (ext == "pdf") return Format::Pdf;
    return std::nullopt;
}

const char* formatName(Format f) {
    switch (f) {
        case Format::Png: return "PNG";
        case Format::Jpeg: return "JPEG";
        case Format::Bmp: return "BMP";
        case Format::Webp: return "WebP";
        case Format::Pdf: return "PDF";
    }
    return "";
}

const char* formatExtension(Format f) {
    switch (f) {
        case Format::Png: return ".png";
        case Format::Jpeg: return ".jpg";
        case Format::Bmp: return ".bmp";
        case Format::Webp: return ".webp";
        case Format::Pdf: return ".pdf";
    }
    return "";
}

bool formatHasAlpha(Format f) { return f == Format::Png || f == Format::Webp; }

std::optional<FormatLimit> formatRefuses(Format f, int width, int height) {
    switch (f) {
        case Format::Jpeg:
            if (width > kJpegLargest || height > kJpegLargest) return FormatLimit{"65535 x 65535 px", Format::Png};
            return std::nullopt;
        case Format::Bmp:
            if (!bitmapFits(width, height)) return FormatLimit{"4 GiB", Format::Png};
            return std::nullopt;
        case Format::Webp:
            if (width > kWebpLargest || height > kWebpLargest) return FormatLimit{"16383 x 16383 px", Format::Png};
            return std::nullopt;
        case Format::Png: return std::nullopt;  // 2^31 - 1 a side: more than any page
        case Format::Pdf: return std::nullopt;  // pages, not pixels
    }
    return std::nullopt;
}

std::error_code writeImageTo(int fd, const Image& image, Format f, const WriteOptions& options) {
    if (formatRefuses(f, image.width(), image.height())) return std::make_error_code(std::errc::file_too_large);
    switch (f) {
        case Format::Png: return encodePng(fd, image);
        case Format::Jpeg: return encodeJpeg(fd, image, options.jpegQuality);
        case Format::Bmp: return writeBitmapTo(fd, image);
        case Format::Webp: return encodeWebp(fd, image, options.jpegQuality, options.lossless);
        case Format::Pdf: break;
    }
    return std::make_error_code(std::errc::invalid_argument);
}

std::error_code writeImageFile(const Image& image, const std::string& path, Format f, const WriteOptions& options) {
    if (formatRefuses(f, image.width(), image.height())) return std::make_error_code(std::errc::file_too_large);
    return writeAtomically(path, [&](int fd) { return writeImageTo(fd, image, f, options); });
}

}  // namespace capture
