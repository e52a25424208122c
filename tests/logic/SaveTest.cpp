// The save dialog's request, the bitmap written, and what happens to files on failure.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "shell/ApiImage.h"
#include "capture/BitmapWriter.h"
#include "tests/fakes/FakeApp.h"

namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

struct Folder {
    fs::path dir;
    Folder() {
        char pattern[] = "/tmp/vemo-save-XXXXXX";
        dir = ::mkdtemp(pattern);
    }
    ~Folder() { fs::remove_all(dir); }
    std::string at(const std::string& name) const { return (dir / name).string(); }
    std::vector<std::string> names() const {
        std::vector<std::string> out;
        for (const auto& e : fs::directory_iterator(dir)) out.push_back(e.path().filename().string());
        std::sort(out.begin(), out.end());
        return out;
    }
};

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

TEST(SaveDialog, RequestIsBuiltAsTheDialogExpectsIt) {
    const auto r = shell::saveDialogRequest("另存为", "JPG文件(.JPG)", "JPG");
    EXPECT_EQ(r.title, "另存为\0"s);
    EXPECT_EQ(r.filter, "JPG文件(.JPG)\0*.JPG\0\0"s);
    EXPECT_EQ(r.fileBuffer.size(), 252u);
    EXPECT_EQ(r.fileBuffer, std::string(246, ' ') + "*.jpg" + "\0"s);
    EXPECT_EQ(r.maxFile, 252u);
    EXPECT_EQ(r.flags, 0x81806u);
}

TEST(SaveDialog, PathIsTheTextBeforeTheFirstNulAndCancelIsEmpty) {
    fakes::FakeDialogs dialogs;
    dialogs.nextName = "/tmp/a.jpg\0junk"s;
    EXPECT_EQ(shell::ShowSaveDialog(dialogs, "另存为", "JPG文件(.JPG)", "JPG"), "/tmp/a.jpg");
    dialogs.nextName.reset();
    EXPECT_EQ(shell::ShowSaveDialog(dialogs, "另存为", "JPG文件(.JPG)", "JPG"), "");
    ASSERT_EQ(dialogs.requests.size(), 2u);
    EXPECT_EQ(dialogs.requests[0].fileBuffer, dialogs.requests[1].fileBuffer);  // nothing carries over
}

TEST(Bitmap, HeaderAndRowsAreAWindowsBitmap) {
    // 3 x 2 pixels: rows padded to 12 bytes, stored bottom row first, blue-green-red.
    const std::uint32_t pixels[] = {0x102030, 0x405060, 0x708090, 0xA0B0C0, 0xD0E0F0, 0x010203};
    capture::Image image(3, 2, 0);
    image.append({0, 2, 12, reinterpret_cast<const std::uint8_t*>(pixels), nullptr});
    Folder f;
    ASSERT_FALSE(capture::writeBitmapFile(image, f.at("x.jpg")));
    const std::string b = slurp(f.at("x.jpg"));
    ASSERT_EQ(b.size(), 54u + 24u);
    auto u32 = [&](int at) { return *reinterpret_cast<const std::uint32_t*>(b.data() + at); };
    auto u16 = [&](int at) { return *reinterpret_cast<const std::uint16_t*>(b.data() + at); };
    EXPECT_EQ(b.substr(0, 2), "BM");
    EXPECT_EQ(u32(2), 78u);
    EXPECT_EQ(u32(10), 54u);
    EXPECT_EQ(u32(14), 40u);
    EXPECT_EQ(u32(18), 3u);
    EXPECT_EQ(u32(22), 2u);
    EXPECT_EQ(u16(26), 1u);
    EXPECT_EQ(u16(28), 24u);
    EXPECT_EQ(u32(30), 0u);
    EXPECT_EQ(u32(34), 24u);
    const std::string bottom = "\xC0\xB0\xA0\xF0\xE0\xD0\x03\x02\x01\0\0\0"s;
    const std::string top = "\x30\x20\x10\x60\x50\x40\x90\x80\x70\0\0\0"s;
    EXPECT_EQ(b.substr(54, 12), bottom);
    EXPECT_EQ(b.substr(66, 12), top);
}

TEST(Bitmap, PicturesOfAnyShapeAreWrittenRowForRowThroughChunksAndBlocks) {
    // Widths whose rows are no whole number of words or blocks, heights of several
    // chunks, bands of adopted memory with gaps between them (the back colour).
    for (const int width : {1, 3, 1001, 4099}) {
        const int height = 9000 - width;
        capture::Image image(width, height, 0x0a0b0c);
        std::vector<std::shared_ptr<std::vector<std::uint32_t>>> keep;
        for (int top = 0; top < height; top += 1500) {
            if ((top / 1500) % 3 == 2) continue;  // a gap
            const int rows = std::min(1300, height - top);
            auto px = std::make_shared<std::vector<std::uint32_t>>(static_cast<std::size_t>(width) * rows);
            for (std::size_t i = 0; i < px->size(); ++i) (*px)[i] = static_cast<std::uint32_t>(i * 2654435761u + top);
            image.append({top, rows, static_cast<std::size_t>(width) * 4,
                          reinterpret_cast<const std::uint8_t*>(px->data()), px});
        }
        Folder f;
        ASSERT_FALSE(capture::writeBitmapFile(image, f.at("p.bmp")));
        const std::string b = slurp(f.at("p.bmp"));
        ASSERT_EQ(b.size(), capture::bitmapFileBytes(width, height)) << width;
        const std::size_t row = (static_cast<std::size_t>(width) * 3 + 3) & ~std::size_t{3};
        long wrong = 0;
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                const auto* p = reinterpret_cast<const std::uint8_t*>(b.data()) + 54 + row * (height - 1 - y) + 3 * x;
                const std::uint32_t got = p[0] | p[1] << 8 | p[2] << 16;
                wrong += got != image.at(x, y);
            }
        EXPECT_EQ(wrong, 0) << "width " << width;
    }
}

class SaveCommand : public ::testing::Test {
protected:
    void SetUp() override {
        a.browser().holdPage(900, 700, 0xABCDEF);
        a.clickPhoto();
    }
    fakes::FakeApp a;
    Folder f;
};

TEST_F(SaveCommand, WritesTheWholePictureWhateverTheName) {
    for (const std::string name : {"page.jpg", "page", "page.png"}) {
        a.p.dialogs.nextName = f.at(name);
        a.clickSave();
        const std::string b = slurp(f.at(name));
        ASSERT_EQ(b.size(), 54u + 900u * 3 * 700) << name;  // 2700-byte rows need no padding
        EXPECT_EQ(b.substr(54, 3), "\xEF\xCD\xAB"s);
    }
    EXPECT_TRUE(a.p.dialogs.warnings.empty());
    EXPECT_EQ(f.names(), (std::vector<std::string>{"page", "page.jpg", "page.png"}));
}

TEST_F(SaveCommand, ReplacesAnExistingFileAndLeavesNoTemporaryFile) {
    std::ofstream(f.at("old.jpg")) << "old";
    ::chmod(f.at("old.jpg").c_str(), 0640);
    a.p.dialogs.nextName = f.at("old.jpg");
    a.clickSave();
    EXPECT_EQ(slurp(f.at("old.jpg")).substr(0, 2), "BM");
    EXPECT_EQ(fs::status(f.at("old.jpg")).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    EXPECT_EQ(f.names(), std::vector<std::string>{"old.jpg"});
}

TEST_F(SaveCommand, CancelWritesNothingAndSaysNothing) {
    a.p.dialogs.nextName.reset();
    a.clickSave();
    EXPECT_TRUE(f.names().empty());
    EXPECT_TRUE(a.p.dialogs.warnings.empty());
}

TEST_F(SaveCommand, FailureIsReportedAndOldFilesAreKept) {
    // A read-only file is one its owner keeps.
    std::ofstream(f.at("kept.jpg")) << "kept";
    ::chmod(f.at("kept.jpg").c_str(), 0444);
    a.p.dialogs.nextName = f.at("kept.jpg");
    a.clickSave();
    // A folder of that name, and a folder that does not exist.
    fs::create_directory(f.dir / "folder.jpg");
    a.p.dialogs.nextName = f.at("folder.jpg");
    a.clickSave();
    a.p.dialogs.nextName = f.at("missing/x.jpg");
    a.clickSave();

    ASSERT_EQ(a.p.dialogs.warnings.size(), 3u);
    for (const auto& [text, title] : a.p.dialogs.warnings) {
        EXPECT_EQ(text.rfind("保存出错 ", 0), 0u);
        EXPECT_GT(text.size(), std::string("保存出错 ").size());
        EXPECT_EQ(title, "系统提示");
    }
    EXPECT_EQ(slurp(f.at("kept.jpg")), "kept");
    EXPECT_EQ(f.names(), (std::vector<std::string>{"folder.jpg", "kept.jpg"}));
}

TEST_F(SaveCommand, LongPathsAreSavedWhenTheFileSystemTakesThem) {
    std::string dir = f.dir.string();
    for (int i = 0; i < 3; ++i) {
        dir += "/" + std::string(100, 'd');
        fs::create_directory(dir);
    }
    a.p.dialogs.nextName = dir + "/快照.jpg";
    a.clickSave();
    // A name as long as the file system allows.
    const std::string longest = std::string(251, 'n') + ".jpg";
    a.p.dialogs.nextName = dir + "/" + longest;
    a.clickSave();
    EXPECT_TRUE(a.p.dialogs.warnings.empty());
    EXPECT_EQ(slurp(dir + "/快照.jpg").substr(0, 2), "BM");
    EXPECT_EQ(slurp(dir + "/" + longest).substr(0, 2), "BM");
}

}  // namespace
