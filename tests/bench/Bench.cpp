// Times the photo and save commands on a 1200 x 12000 px page against the engine's
// bare whole-document snapshot and a raw write of the same number of bytes.
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
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

}  // namespace

int main() {
    constexpr int kRuns = 7;
    support::TempDir dir;
    std::string html = "<!doctype html><html><body style='margin:0'>";
    const char* colours[] = {"#c00", "#0c0", "#00c", "#cc0", "#0cc", "#c0c"};
    for (int i = 0; i < 12; ++i)
        html += std::string("<div style='width:1200px;height:1000px;background:") + colours[i % 6] + "'>block " +
                std::to_string(i) + "</div>";
    html += "</body></html>";

    support::GuiHarness app;
    if (!app.open(support::writePage(dir, "bench.html", html))) {
        std::fprintf(stderr, "the page did not load\n");
        return 1;
    }
    auto* view = dynamic_cast<platform::gtk::GtkBrowser&>(app.main().browser("WebBrowser1")).view();

    std::vector<double> photo, bare, save, raw;
    for (int i = 0; i < kRuns; ++i) {
        bare.push_back(bareSnapshot(app, view));
        const auto start = Clock::now();
        app.road().photoCommand();
        photo.push_back(msSince(start));
    }
    const auto image = app.main().pictureBox("Picture1").image();
    const std::size_t bytes = capture::bitmapFileBytes(image->width(), image->height());
    for (int i = 0; i < kRuns; ++i) {
        app.dialogs.nextName = dir.path("bench.bmp");
        auto start = Clock::now();
        app.road().saveCommand();
        save.push_back(msSince(start));
        raw.push_back(rawWrite(dir.path("raw.bin"), bytes));
    }
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);

    std::printf("page: %d x %d px, bitmap %.1f MB, %d runs each (medians)\n", image->width(), image->height(), bytes / 1e6,
                kRuns);
    std::printf("photo command:             %7.1f ms\n", median(photo));
    std::printf("bare engine snapshot:      %7.1f ms   (photo / bare = %.2f)\n", median(bare),
                median(photo) / median(bare));
    std::printf("save command:              %7.1f ms\n", median(save));
    std::printf("raw write, same bytes:     %7.1f ms   (save / raw = %.2f)\n", median(raw), median(save) / median(raw));
    std::printf("peak memory (this process): %6.1f MB\n", usage.ru_maxrss / 1024.0);
    std::printf("warnings shown: %zu\n", app.dialogs.warnings.size());
    return app.dialogs.warnings.empty() ? 0 : 1;
}
