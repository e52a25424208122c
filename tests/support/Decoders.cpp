#include "tests/support/Decoders.h"

#include <jpeglib.h>
#include <spng.h>
#include <webp/decode.h>

#include <cstdio>

namespace support {

std::optional<Picture> decodePng(const std::string& bytes) {
    spng_ctx* ctx = spng_ctx_new(0);
    spng_set_image_limits(ctx, 1u << 20, 1u << 20);
    spng_set_chunk_limits(ctx, 1u << 30, 1u << 30);
    spng_set_png_buffer(ctx, bytes.data(), bytes.size());
    spng_ihdr ihdr{};
    std::size_t size = 0;
    std::optional<Picture> p;
    if (!spng_get_ihdr(ctx, &ihdr) && !spng_decoded_image_size(ctx, SPNG_FMT_RGBA8, &size)) {
        std::vector<std::uint8_t> rgba(size);
        if (!spng_decode_image(ctx, rgba.data(), size, SPNG_FMT_RGBA8, 0)) {
            p = Picture{static_cast<int>(ihdr.width), static_cast<int>(ihdr.height), {}, {}};
            p->pixels.resize(size / 4);
            if (ihdr.color_type == SPNG_COLOR_TYPE_TRUECOLOR_ALPHA) p->alphas.resize(size / 4);
            for (std::size_t i = 0; i < p->pixels.size(); ++i) {
                p->pixels[i] = rgba[4 * i] << 16 | rgba[4 * i + 1] << 8 | rgba[4 * i + 2];
                if (!p->alphas.empty()) p->alphas[i] = rgba[4 * i + 3];
            }
        }
    }
    spng_ctx_free(ctx);
    return p;
}

std::optional<Picture> decodeJpeg(const std::string& bytes) {
    jpeg_decompress_struct cinfo{};
    jpeg_error_mgr err{};
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
    jpeg_read_header(&cinfo, TRUE);
    cinfo.out_color_space = JCS_RGB;
    jpeg_start_decompress(&cinfo);
    Picture p{static_cast<int>(cinfo.output_width), static_cast<int>(cinfo.output_height), {}, {}};
    p.pixels.resize(static_cast<std::size_t>(p.width) * p.height);
    std::vector<unsigned char> row(static_cast<std::size_t>(p.width) * 3);
    while (cinfo.output_scanline < cinfo.output_height) {
        const int y = static_cast<int>(cinfo.output_scanline);
        JSAMPROW r = row.data();
        jpeg_read_scanlines(&cinfo, &r, 1);
        for (int x = 0; x < p.width; ++x)
            p.pixels[static_cast<std::size_t>(y) * p.width + x] = row[3 * x] << 16 | row[3 * x + 1] << 8 | row[3 * x + 2];
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return p;
}

std::optional<Picture> decodeWebp(const std::string& bytes) {
    WebPBitstreamFeatures features{};
    const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
    if (WebPGetFeatures(data, bytes.size(), &features) != VP8_STATUS_OK) return std::nullopt;
    int width = 0, height = 0;
    std::uint8_t* rgba = WebPDecodeRGBA(data, bytes.size(), &width, &height);
    if (!rgba) return std::nullopt;
    Picture p{width, height, {}, {}};
    p.pixels.resize(static_cast<std::size_t>(width) * height);
    if (features.has_alpha) p.alphas.resize(p.pixels.size());
    for (std::size_t i = 0; i < p.pixels.size(); ++i) {
        p.pixels[i] = rgba[4 * i] << 16 | rgba[4 * i + 1] << 8 | rgba[4 * i + 2];
        if (features.has_alpha) p.alphas[i] = rgba[4 * i + 3];
    }
    WebPFree(rgba);
    return p;
}

}  // namespace support
