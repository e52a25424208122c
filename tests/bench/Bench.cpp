// Times the photo and save commands on a 1200 x 12000 px page against the engine's
// bare whole-document snapshot and a raw write of the same number of bytes.
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <vector>

#include "platform/gtk/GtkControls.h"
#include "capture/BitmapWriter.h"
#include "tests/support/GuiHarness.h"

namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point t) { return std::chrono::duration<double, std::milli>(Clock::now() - t).count(); }

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

double bareSnapshot(support::GuiHarness& app, WebKitWebView* view) {
    cairo_surface_t* result = nullptr;
    bool done = false;
    struct Reply {
        cairo_surface_t** result;
        bool* done;
    } reply{&result, &done};
    const auto start = Clock::now();
    webkit_web_view_get_snapshot(
        view, WEBKIT_SNAPSHOT_REGION_FULL_DOCUMENT, WEBKIT_SNAPSHOT_OPTIONS_NONE, nullptr,
        [](GObject* source, GAsyncResult* res, gpointer data) {
            auto* r = static_cast<Reply*>(data);
            *r->result = webkit_web_view_get_snapshot_finish(WEBKIT_WEB_VIEW(source), res, nullptr);
            *r->done = true;
        },
        &reply);
    app.waitFor([&] { return done; }, 30000);
    const double ms = msSince(start);
    if (result) cairo_surface_destroy(result);
    return ms;
}

double rawWrite(const std::string& path, std::size_t bytes) {
    std::vector<char> data(bytes, 'x');
    const auto start = Clock::now();
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::size_t done = 0;
    while (done < bytes) {
        const ssize_t n = ::write(fd, data.data() + done, std::min<std::size_t>(bytes - done, 4u << 20));
        if (n <= 0) break;
        done += static_cast<std::size_t>(n);
    }
    ::fsync(fd);
    ::close(fd);
    return msSince(start);
}

std::string bandsPage(int blocks) {
    std::string html = "<!doctype html><html><body style='margin:0'>";
    const char* colours[] = {"#c00", "#0c0", "#00c", "#cc0", "#0cc", "#c0c"};
    for (int i = 0; i < blocks; ++i)
        html += std::string("<div style='width:1200px;height:1000px;background:") + colours[i % 6] + "'>block " +
                std::to_string(i) + "</div>";
    return html + "</body></html>";
}

long statusKb(const char* field) {
    std::FILE* f = std::fopen("/proc/self/status", "r");
    char line[256];
    long kb = 0;
    while (f && std::fgets(line, sizeof line, f))
        if (std::strncmp(line, field, std::strlen(field)) == 0) kb = std::atol(line + std::strlen(field));
    if (f) std::fclose(f);
    return kb;
}

void resetPeak() {
    if (std::FILE* f = std::fopen("/proc/self/clear_refs", "w")) {
        std::fputs("5", f);
        std::fclose(f);
    }
}

struct PhotoFigures {
    double photo = 0, bare = 0;
    int width = 0, height = 0;
    double peakAboveIdleMb = 0;
};

// Photographs a page of `blocks` 1000 px blocks `runs` times beside the bare engine paint.
std::optional<PhotoFigures> photograph(support::GuiHarness& app, support::TempDir& dir, int blocks, int runs) {
    if (!app.open(support::writePage(dir, "bench" + std::to_string(blocks) + ".html", bandsPage(blocks)), 60000))
        return std::nullopt;
    auto* view = dynamic_cast<platform::gtk::GtkBrowser&>(app.main().browser("WebBrowser1")).view();
    std::vector<double> photo, bare;
    PhotoFigures f;
    for (int i = 0; i < runs; ++i) {
        if (blocks * 1000 <= 32767) bare.push_back(bareSnapshot(app, view));
        // The last picture is let go first, so the peak is this photo's alone.
        app.main().pictureBox("Picture1").clearPicture();
        const long idle = statusKb("VmRSS:");
        resetPeak();
        const auto start = Clock::now();
        app.road().photoCommand();
        photo.push_back(msSince(start));
        // The engine's pixels arrive in shared memory, counted once touched: read them all.
        const auto image = app.main().pictureBox("Picture1").image();
        std::uint32_t sum = 0;
        for (int y = 0; y < image->height(); ++y)
            if (const auto* r = image->row(y)) sum += r[0] + r[image->width() - 1];
        if (sum == 1) std::printf(" ");
        f.peakAboveIdleMb = std::max(f.peakAboveIdleMb, (statusKb("VmHWM:") - idle) / 1024.0);
    }
    const auto image = app.main().pictureBox("Picture1").image();
    f.photo = median(photo);
    f.bare = bare.empty() ? 0 : median(bare);
    f.width = image->width();
    f.height = image->height();
    return f;
}

// The median of the engine's bare whole-document paint of the page at that address.
int bareOnly(const char* address, int runs) {
    support::GuiHarness app;
    if (!app.open(address, 60000)) {
        std::fprintf(stderr, "the page did not load\n");
        return 1;
    }
    auto* view = dynamic_cast<platform::gtk::GtkBrowser&>(app.main().browser("WebBrowser1")).view();
    std::vector<double> bare;
    for (int i = 0; i < runs; ++i) bare.push_back(bareSnapshot(app, view));
    std::printf("%.1f\n", median(bare));
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    constexpr int kRuns = 7;
    // vemo-bench --bare ADDRESS: that figure alone, for the capture command's benchmark.
    if (argc == 3 && std::strcmp(argv[1], "--bare") == 0) return bareOnly(argv[2], kRuns);
    support::TempDir dir;
    support::GuiHarness app;
    const auto page = photograph(app, dir, 12, kRuns);
    const auto tall = photograph(app, dir, 100, 3);
    if (!page || !tall) {
        std::fprintf(stderr, "a page did not load\n");
        return 1;
    }
    app.main().pictureBox("Picture1").clearPicture();
    photograph(app, dir, 12, 1);

    std::vector<double> save, raw;
    const auto image = app.main().pictureBox("Picture1").image();
    const std::size_t bytes = capture::bitmapFileBytes(image->width(), image->height());
    for (int i = 0; i < kRuns; ++i) {
        app.dialogs.nextName = dir.path("bench.bmp");
        auto start = Clock::now();
        app.road().saveCommand();
        save.push_back(msSince(start));
        raw.push_back(rawWrite(dir.path("raw.bin"), bytes));
    }

    auto mb = [](const PhotoFigures& f) { return capture::imageBytes(f.width, f.height) / 1048576.0; };
    const double perPixel = page->photo / (double(page->width) * page->height);
    const double tallPerPixel = tall->photo / (double(tall->width) * tall->height);
    std::printf("page: %d x %d px, bitmap %.1f MB, %d runs each (medians)\n", page->width, page->height, bytes / 1e6, kRuns);
    std::printf("photo command:             %7.1f ms\n", page->photo);
    std::printf("bare engine snapshot:      %7.1f ms   (photo / bare = %.2f, goal <= 1.15)\n", page->bare,
                page->photo / page->bare);
    std::printf("photo peak above idle:     %7.1f MB   (picture %.1f MB, ratio %.2f, goal <= 1.3)\n",
                page->peakAboveIdleMb, mb(*page), page->peakAboveIdleMb / mb(*page));
    std::printf("tall page: %d x %d px, photo %.1f ms (%.1f ms per 1000 px rows)\n", tall->width, tall->height,
                tall->photo, tall->photo / (tall->height / 1000.0));
    std::printf("cost per pixel, tall / 12000 px page: %.2f (goal <= 1.3)\n", tallPerPixel / perPixel);
    std::printf("tall photo peak above idle: %6.1f MB   (picture %.1f MB, ratio %.2f, goal <= 1.3)\n",
                tall->peakAboveIdleMb, mb(*tall), tall->peakAboveIdleMb / mb(*tall));
    std::printf("save command:              %7.1f ms\n", median(save));
    std::printf("raw write, same bytes:     %7.1f ms   (save / raw = %.2f, goal <= 1.2)\n", median(raw),
                median(save) / median(raw));
    std::printf("warnings shown: %zu\n", app.dialogs.warnings.size());
    return app.dialogs.warnings.empty() ? 0 : 1;
}
