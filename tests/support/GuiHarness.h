// The real program on the real GTK/WebKit platform, with test doubles for the
// dialogs and the shell, and helpers to wait for pages and read saved bitmaps.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/gtk/GtkPlatform.h"
#include "shell/frmMain.h"
#include "tests/fakes/FakeUi.h"
#include "tests/support/HttpServer.h"

namespace support {

// A 24-bit bitmap file as read back from disk.
struct Bitmap {
    int width = 0, height = 0;
    std::vector<std::uint8_t> bytes;
    std::uint32_t pixel(int x, int y) const;  // 0xRRGGBB, y from the top
    static std::optional<Bitmap> read(const std::string& path);
};

// A folder of its own under the temporary folder, removed with the object.
class TempDir {
public:
    TempDir();
    ~TempDir();
    std::string path(const std::string& name) const { return dir_ + "/" + name; }
    const std::string& dir() const { return dir_; }
    std::vector<std::string> entries() const;

private:
    std::string dir_;
};

class GuiHarness {
public:
    explicit GuiHarness(const std::string& noticeAddress = unreachableUrl("/update.asp"));
    ~GuiHarness();

    // Types the address into the address box and opens it, then waits until the
    // capture browser and the viewer both have the page.
    bool open(const std::string& address, int ms = 20000);
    bool waitFor(const std::function<bool()>& done, int ms) { return ui.runUntil(done, ms); }
    void settle(int ms) { ui.runUntil([] { return false; }, ms); }

    // Photographs the page now open and saves it to `path`; the bitmap read back.
    std::optional<Bitmap> photoAndSave(const std::string& path);

    platform::IWindow& main() { return app->window(); }
    snapshot::SnapshotRoad& road() { return app->road(); }

    platform::gtk::GtkUi ui;
    fakes::FakeDialogs dialogs;
    fakes::FakeShell shell;
    std::unique_ptr<shell::frmMain> app;
    int captureBrowserPages = 0;
};

// A file: address of an HTML page written to `dir`.
std::string writePage(const TempDir& dir, const std::string& name, const std::string& html);

}  // namespace support
