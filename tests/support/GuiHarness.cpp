#include "tests/support/GuiHarness.h"

#include <dirent.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "resources/Designs.h"

namespace support {

std::uint32_t Bitmap::pixel(int x, int y) const {
    const std::size_t row = (static_cast<std::size_t>(width) * 3 + 3) & ~std::size_t{3};
    const std::size_t at = 54 + row * static_cast<std::size_t>(height - 1 - y) + static_cast<std::size_t>(x) * 3;
    return static_cast<std::uint32_t>(bytes[at + 2]) << 16 | static_cast<std::uint32_t>(bytes[at + 1]) << 8 | bytes[at];
}

std::optional<Bitmap> Bitmap::read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    Bitmap b;
    b.bytes.assign(std::istreambuf_iterator<char>(in), {});
    if (b.bytes.size() < 54 || b.bytes[0] != 'B' || b.bytes[1] != 'M') return std::nullopt;
    auto u32 = [&](std::size_t at) {
        return static_cast<std::int32_t>(b.bytes[at] | b.bytes[at + 1] << 8 | b.bytes[at + 2] << 16 |
                                         static_cast<std::uint32_t>(b.bytes[at + 3]) << 24);
    };
    b.width = u32(18);
    b.height = u32(22);
    return b;
}

TempDir::TempDir() {
    char pattern[] = "/tmp/vemo-test-XXXXXX";
    dir_ = ::mkdtemp(pattern);
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::permissions(dir_, std::filesystem::perms::owner_all, ec);
    std::filesystem::remove_all(dir_, ec);
}

std::vector<std::string> TempDir::entries() const {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir_)) names.push_back(e.path().filename().string());
    return names;
}

std::string writePage(const TempDir& dir, const std::string& name, const std::string& html) {
    std::ofstream(dir.path(name)) << html;
    return "file://" + dir.path(name);
}

GuiHarness::GuiHarness(const std::string& noticeAddress) {
    auto designs = resources::standardDesigns();
    designs.site.noticeAddress = noticeAddress;
    app = std::make_unique<shell::frmMain>(platform::Services{ui, dialogs, shell}, designs);
    app->window().browser("WebBrowser1").onDocumentComplete([this](const std::string&) { ++captureBrowserPages; });
    app->load();
    app->show();
    settle(100);
}

GuiHarness::~GuiHarness() {
    app.reset();
    settle(50);
}

std::optional<Bitmap> GuiHarness::photoAndSave(const std::string& path) {
    road().photoCommand();
    dialogs.nextName = path;
    road().saveCommand();
    return Bitmap::read(path);
}

bool GuiHarness::open(const std::string& address, int ms) {
    const int before = captureBrowserPages;
    main().textBox("Text1").setText(address);
    road().openCommand();
    return waitFor(
        [&] {
            auto* view = road().viewer().current();
            return captureBrowserPages > before && view &&
                   view->window().label("Label3").caption() == resources::kBlackScreenHint;
        },
        ms);
}

}  // namespace support
