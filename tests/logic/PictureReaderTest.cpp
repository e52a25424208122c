// Picture files read back from memory, top rows first: every format the writers make,
// PNG rows under every filter another encoder chooses, and damaged files refused.
#include <gtest/gtest.h>
#include <spng.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "capture/ImageFiles.h"
#include "capture/PictureReader.h"
#include "tests/support/Decoders.h"

namespace {

namespace fs = std::filesystem;

// Noise, so that every channel of every pixel counts; with alpha, premultiplied.
capture::Image noise(int width, int height, bool alpha) {
    capture::Image image(width, height, 0xFFFFFF);
    image.setAlpha(alpha);
    std::uint32_t* px = image.appendOwned(0, height);
    for (std::size_t i = 0; i < static_cast<std::size_t>(width) * height; ++i) {
        const std::uint32_t v = static_cast<std::uint32_t>(i * 2654435761u) ^ static_cast<std::uint32_t>(i >> 7);
        if (!alpha) {
            px[i] = v & 0xFFFFFF;
            continue;
        }
        const std::uint32_t a = v >> 24;
        auto c = [&](int shift) { return ((v >> shift & 0xFF) * a / 255) << shift; };
        px[i] = a << 24 | c(16) | c(8) | c(0);
    }
    return image;
}

std::string fileBytes(const capture::Image& image, capture::Format kind, const capture::WriteOptions& o = {}) {
    const fs::path path = fs::temp_directory_path() / ("vemo-reader-" + std::to_string(::getpid()));
    if (capture::writeImageFile(image, path.string(), kind, o)) return {};
    std::ifstream in(path, std::ios::binary);
    std::string bytes{std::istreambuf_iterator<char>(in), {}};
    fs::remove(path);
    return bytes;
}

std::shared_ptr<capture::Image> read(const std::string& bytes, int rows) {
    return capture::readTopRows(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(),
                                [rows](int) { return rows; });
}

// Channels apart by at most `slack` (a premultiplied pixel made straight and back again).
bool near(std::uint32_t a, std::uint32_t b, int slack) {
    for (int s = 0; s < 32; s += 8)
        if (std::abs(static_cast<int>(a >> s & 0xFF) - static_cast<int>(b >> s & 0xFF)) > slack) return false;
    return true;
}

TEST(PictureReader, EveryFormatComesBackTopRowsFirst) {
    struct Case {
        const char* name;
        capture::Format kind;
        bool alpha;
        capture::WriteOptions options;
        int slack;  // 0: pixel for pixel
    };
    const Case cases[] = {
        {"png", capture::Format::Png, false, {}, 0},
        {"png with alpha", capture::Format::Png, true, {}, 1},
        {"bmp", capture::Format::Bmp, false, {}, 0},
        {"webp", capture::Format::Webp, false, {}, 0},
        {"webp with alpha", capture::Format::Webp, true, {}, 1},
        {"jpeg", capture::Format::Jpeg, false, {90, true}, -1},  // against libjpeg's own reading
    };
    for (const auto& c : cases)
        for (const int width : {1, 5, 333}) {
            const int height = 300;
            const auto image = noise(width, height, c.alpha);
            const auto bytes = fileBytes(image, c.kind, c.options);
            ASSERT_FALSE(bytes.empty()) << c.name;
            const auto jpeg = c.slack < 0 ? support::decodeJpeg(bytes) : std::nullopt;
            for (const int rows : {7, height, height + 50}) {
                const auto got = read(bytes, rows);
                ASSERT_TRUE(got) << c.name << " " << width;
                ASSERT_EQ(got->width(), width) << c.name;
                ASSERT_EQ(got->height(), std::min(rows, height)) << c.name;
                EXPECT_EQ(got->alpha(), c.alpha) << c.name;
                long wrong = 0;
                for (int y = 0; y < got->height(); ++y)
                    for (int x = 0; x < width; ++x) {
                        const std::uint32_t want = c.slack < 0 ? jpeg->at(x, y) : image.row(y)[x];
                        const std::uint32_t have = c.slack < 0 ? got->at(x, y) : got->row(y)[x];
                        wrong += !near(c.alpha ? have : have & 0xFFFFFF, c.alpha ? want : want & 0xFFFFFF,
                                       std::max(c.slack, 0));
                    }
                EXPECT_EQ(wrong, 0) << c.name << ", " << width << " px wide, " << rows << " rows";
            }
        }
}

// Rows filtered as another encoder chooses, one filter at a time.
TEST(PictureReader, PngRowsUnderEveryFilterComeBackWhole) {
    const int width = 97, height = 40;
    const auto image = noise(width, height, false);
    std::vector<std::uint8_t> rgb;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int s : {16, 8, 0}) rgb.push_back(static_cast<std::uint8_t>(image.row(y)[x] >> s));
    for (const int filter : {SPNG_FILTER_CHOICE_NONE, SPNG_FILTER_CHOICE_SUB, SPNG_FILTER_CHOICE_UP,
                             SPNG_FILTER_CHOICE_AVG, SPNG_FILTER_CHOICE_PAETH}) {
        spng_ctx* ctx = spng_ctx_new(SPNG_CTX_ENCODER);
        spng_set_option(ctx, SPNG_ENCODE_TO_BUFFER, 1);
        spng_set_option(ctx, SPNG_FILTER_CHOICE, filter);
        spng_ihdr ihdr{static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height), 8,
                       SPNG_COLOR_TYPE_TRUECOLOR, 0, 0, 0};
        spng_set_ihdr(ctx, &ihdr);
        ASSERT_EQ(spng_encode_image(ctx, rgb.data(), rgb.size(), SPNG_FMT_PNG, SPNG_ENCODE_FINALIZE), 0) << filter;
        std::size_t size = 0;
        int error = 0;
        auto* png = static_cast<char*>(spng_get_png_buffer(ctx, &size, &error));
        const std::string bytes(png, size);
        std::free(png);
        spng_ctx_free(ctx);
        const auto got = read(bytes, height);
        ASSERT_TRUE(got) << filter;
        long wrong = 0;
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) wrong += got->at(x, y) != image.at(x, y);
        EXPECT_EQ(wrong, 0) << "filter choice " << filter;
    }
}

// A contact sheet's small picture of a tall page takes the memory of its top rows, not
// of the whole picture: read in a process of its own whose memory is bounded well below
// the whole picture's, for each format whose reader could take it whole.
TEST(PictureReader, TallPicturesAreReadInTheMemoryOfTheirTopRows) {
    const int width = 2048, height = 16000;  // 125 MiB of pixels; the top 100 rows, 0.8 MiB
    const capture::Image tall(width, height, 0x3366cc);
    for (const auto kind : {capture::Format::Webp, capture::Format::Png}) {
        const auto bytes = fileBytes(tall, kind);
        ASSERT_FALSE(bytes.empty()) << capture::formatName(kind);
        const pid_t child = ::fork();
        if (child == 0) {
            long pages = 0;
            std::ifstream("/proc/self/statm") >> pages;
            const rlim_t room = static_cast<rlim_t>(pages) * static_cast<rlim_t>(::sysconf(_SC_PAGESIZE)) + (48u << 20);
            const rlimit limit{room, room};
            ::setrlimit(RLIMIT_AS, &limit);
            const auto got = read(bytes, 100);
            ::_exit(got && got->height() == 100 && got->at(width - 1, 99) == 0x3366cc ? 0 : 1);
        }
        int status = -1;
        ::waitpid(child, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
            << capture::formatName(kind) << " was not read within the memory of its top rows";
    }
}

TEST(PictureReader, DamagedOrForeignFilesAreRefused) {
    const auto image = noise(64, 64, false);
    for (const auto kind : {capture::Format::Png, capture::Format::Jpeg, capture::Format::Bmp, capture::Format::Webp}) {
        const auto bytes = fileBytes(image, kind);
        ASSERT_FALSE(bytes.empty());
        // Cut short anywhere: refused when rows it needs are missing (libjpeg makes up what
        // is missing of a JPEG), and never read past its end.
        for (std::size_t keep : {std::size_t{2}, std::size_t{20}, bytes.size() / 3, bytes.size() - 13}) {
            const std::string cut = bytes.substr(0, keep);
            const auto got = read(cut, 64);
            if (kind != capture::Format::Jpeg) {
                EXPECT_FALSE(got) << capture::formatName(kind) << " cut at " << keep;
            }
        }
    }
    for (const std::string& foreign : {std::string(), std::string("GIF89a"), std::string("<!doctype html>"),
                                      std::string("\x89PNG\r\n\x1a\n", 8)})
        EXPECT_FALSE(read(foreign, 10)) << foreign;
}

}  // namespace
