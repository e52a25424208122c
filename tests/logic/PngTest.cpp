// PNG files read back by another library: every pixel, any shape, and failures said.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>

#include "capture/ImageFiles.h"
#include "capture/PngEncoder.h"
#include "tests/support/Decoders.h"

namespace {

namespace fs = std::filesystem;

std::string slurp(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// Bands of adopted memory with gaps (the back colour) between them; noise, which
// deflates to many data chunks (about 24 MB at 1001 px wide), each with its own check
// sum, and flat colour, which deflates to little.
capture::Image bandedPicture(int width, int height, std::vector<std::shared_ptr<void>>& keep) {
    capture::Image image(width, height, 0x0a0b0c);
    for (int top = 0; top < height; top += 1500) {
        if ((top / 1500) % 3 == 2) continue;
        const int rows = std::min(1300, height - top);
        auto px = std::make_shared<std::vector<std::uint32_t>>(static_cast<std::size_t>(width) * rows);
        for (std::size_t i = 0; i < px->size(); ++i)
            (*px)[i] = (top / 1500) % 3 == 0 ? static_cast<std::uint32_t>(i * 2654435761u + top) : 0xFF336699u;
        image.append({top, rows, static_cast<std::size_t>(width) * 4, reinterpret_cast<const std::uint8_t*>(px->data()), px});
        keep.push_back(px);
    }
    return image;
}

TEST(PngFile, PicturesOfAnyShapeComeBackPixelForPixel) {
    const fs::path dir = fs::temp_directory_path() / ("vemo-png-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    // Widths around the four pixels converted at a time, and their tails.
    for (const int width : {1, 3, 4, 5, 9, 1001}) {
        const int height = 9000 - width;
        std::vector<std::shared_ptr<void>> keep;
        const auto image = bandedPicture(width, height, keep);
        const auto path = dir / "p.png";
        ASSERT_FALSE(capture::writeImageFile(image, path.string(), capture::Format::Png));
        const auto bytes = slurp(path);
        const auto p = support::decodePng(bytes);
        ASSERT_TRUE(p) << "width " << width << ": not a valid PNG file";
        ASSERT_EQ(p->width, width);
        ASSERT_EQ(p->height, height);
        long wrong = 0;
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) wrong += p->at(x, y) != (image.at(x, y) & 0xFFFFFF);
        EXPECT_EQ(wrong, 0) << "width " << width;
        // The file ends with its end chunk: nothing missing, nothing after it.
        EXPECT_EQ(bytes.substr(bytes.size() - 12, 8), std::string("\0\0\0\0IEND", 8));
    }
    fs::remove_all(dir);
}

// Rows of every width around the pixels converted at a time: each pixel's three bytes,
// and not a byte written past the row.
TEST(PngFile, RowsArePackedExactlyAndNothingPastThem) {
    for (int width = 1; width <= 40; ++width) {
        std::vector<std::uint32_t> src(static_cast<std::size_t>(width));
        for (int x = 0; x < width; ++x) src[x] = 0xFF000000u | static_cast<std::uint32_t>(x * 2654435761u) >> 8;
        std::vector<std::uint8_t> out(static_cast<std::size_t>(width) * 3 + 32, 0xAB);
        capture::packRgbRow(src.data(), width, out.data());
        for (int x = 0; x < width; ++x)
            EXPECT_EQ(out[x * 3] << 16 | out[x * 3 + 1] << 8 | out[x * 3 + 2], static_cast<int>(src[x] & 0xFFFFFF))
                << "width " << width << ", pixel " << x;
        for (std::size_t i = static_cast<std::size_t>(width) * 3; i < out.size(); ++i)
            ASSERT_EQ(out[i], 0xAB) << "width " << width << ": byte " << i << " past the row was written";
    }
}

TEST(PngFile, AWriteThatFailsOrAnEmptyPictureIsAnError) {
    capture::Image image(640, 2000, 0x123456);
    const int full = ::open("/dev/full", O_WRONLY);
    ASSERT_GE(full, 0);
    EXPECT_TRUE(capture::encodePng(full, image));
    // libjpeg's own error path: the failure comes back as an error, with the write's reason.
    EXPECT_EQ(capture::encodeJpeg(full, image, 90), std::make_error_code(std::errc::no_space_on_device));
    ::close(full);
    EXPECT_EQ(capture::encodeJpeg(-1, capture::Image(), 90), std::make_error_code(std::errc::invalid_argument));
    EXPECT_EQ(capture::encodePng(-1, capture::Image()), std::make_error_code(std::errc::invalid_argument));
}

}  // namespace
