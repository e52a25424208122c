#include "platform/gtk/ShotEngine.h"

#include <algorithm>
#include <cmath>

#include "capture/PageSize.h"
#include "capture/Strips.h"
#include "capture/WarmUp.h"
#include "platform/gtk/PagePainter.h"
#include "platform/gtk/WebViews.h"
#include "shot/Messages.h"

namespace platform::gtk {

struct ShotEngine::Load {
    bool committed = false, finished = false, failed = false;
    std::string error;
};

ShotEngine::ShotEngine(const std::atomic<bool>& interrupted) : interrupted_(interrupted) { newView(); }

ShotEngine::~ShotEngine() {
    webkit_web_view_stop_loading(view_);
    g_object_unref(view_);
    if (window_) gtk_widget_destroy(window_);
}

void ShotEngine::newView() {
    if (view_) {
        if (window_) gtk_container_remove(GTK_CONTAINER(window_), GTK_WIDGET(view_));
        g_object_unref(view_);
    }
    view_ = newWebView({true, true});
    // Pages get no windows of their own.
    g_signal_connect(view_, "create", G_CALLBACK(+[](WebKitWebView*, WebKitNavigationAction*, gpointer) -> GtkWidget* {
                         return nullptr;
                     }), nullptr);
    gtk_widget_show(GTK_WIDGET(view_));
    if (window_) gtk_container_add(GTK_CONTAINER(window_), GTK_WIDGET(view_));
}

void ShotEngine::show(int width, int height) {
    gtk_widget_set_size_request(GTK_WIDGET(view_), width, height);
    if (!window_) {
        window_ = gtk_window_new(GTK_WINDOW_POPUP);
        gtk_window_set_decorated(GTK_WINDOW(window_), FALSE);
        gtk_window_set_skip_taskbar_hint(GTK_WINDOW(window_), TRUE);
        gtk_window_set_accept_focus(GTK_WINDOW(window_), FALSE);
        // Out of every screen: nobody sees it, yet it is shown and drawn, so its page
        // gets rendering updates (animation frames, intersection observers) as a seen page does.
        gtk_window_move(GTK_WINDOW(window_), -32000, -32000);
        gtk_container_add(GTK_CONTAINER(window_), GTK_WIDGET(view_));
        gtk_widget_show(window_);
    }
    gtk_window_resize(GTK_WINDOW(window_), width, height);
}

bool ShotEngine::waitFor(const std::function<bool()>& done, gint64 deadline) {
    return iterateUntil(done, remainingMs(deadline), &interrupted_);
}

int ShotEngine::remainingMs(gint64 deadline) const {
    return static_cast<int>(std::max<gint64>(0, (deadline - g_get_monotonic_time()) / 1000));
}

shot::PageShot ShotEngine::hung(const std::string& what) {
    // A page that does not answer holds its web process: it is ended, and the next
    // page gets a new one.
    webkit_web_view_terminate_web_process(view_);
    newView();
    if (interrupted_) return {shot::Status::Interrupted, shot::tr("interrupted"), nullptr};
    return {shot::Status::TimedOut, what, nullptr};
}

void ShotEngine::warmUp(gint64 deadline) {
    const int ms = std::min(capture::kWarmUpLimitMs, remainingMs(deadline) / 2);
    auto done = std::make_shared<bool>(false);
    startWarmUp(view_, ms, [done] { *done = true; });
    // The script keeps its own limit; a page too busy to run it is left to the paint's.
    waitFor([&] { return *done; }, g_get_monotonic_time() + (ms + 1000) * 1000L);
}

shot::PageShot ShotEngine::photograph(const shot::PageRequest& r) {
    using shot::Status;
    const gint64 deadline = g_get_monotonic_time() + static_cast<gint64>(r.timeoutMs) * 1000;

    auto load = std::make_shared<Load>();
    auto* keep = new std::shared_ptr<Load>(load);
    const gulong changed = g_signal_connect(view_, "load-changed", G_CALLBACK(+[](WebKitWebView*, WebKitLoadEvent e, gpointer d) {
                                                auto& l = **static_cast<std::shared_ptr<Load>*>(d);
                                                if (e == WEBKIT_LOAD_COMMITTED) l.committed = true;
                                                if (e == WEBKIT_LOAD_FINISHED) l.finished = true;
                                            }), keep);
    const gulong failed = g_signal_connect(
        view_, "load-failed", G_CALLBACK(+[](WebKitWebView*, WebKitLoadEvent, gchar*, GError* error, gpointer d) -> gboolean {
            auto& l = **static_cast<std::shared_ptr<Load>*>(d);
            if (!g_error_matches(error, WEBKIT_NETWORK_ERROR, WEBKIT_NETWORK_ERROR_CANCELLED)) {
                l.failed = true;
                l.error = error->message;
            }
            return FALSE;
        }), keep);
    webkit_web_view_load_uri(view_, r.address.c_str());
    // The first page's web process starts while the window is made; the page is laid
    // out at the screen's size, which reaches the engine before the page does.
    show(r.width, r.height);
    const bool loaded = waitFor([&] { return load->finished; }, deadline);
    g_signal_handler_disconnect(view_, changed);
    g_signal_handler_disconnect(view_, failed);
    delete keep;
    if (interrupted_) return hung({});
    if (load->failed) return {Status::LoadFailed, load->error, nullptr};
    if (!loaded) return hung(shot::tr(load->committed ? "the page did not finish loading in time"
                                                      : "the page did not answer in time"));

    if (r.waitMs > 0) waitFor([] { return false; }, std::min(deadline, g_get_monotonic_time() + r.waitMs * 1000L));
    if (r.warmUp) warmUp(deadline);
    if (interrupted_) return hung({});

    PagePainter painter(view_, &interrupted_);
    bool timedOut = false;
    const auto metrics = painter.measure(std::max(1, remainingMs(deadline)), &timedOut);
    if (timedOut || interrupted_) return hung(shot::tr("the page did not answer in time"));
    if (!metrics) return {Status::LoadFailed, shot::tr("the page has no document to photograph"), nullptr};
    const auto page = capture::pageSize(*metrics);
    const long width = std::lround(page.width) * r.scale, height = std::lround(page.height) * r.scale;
    if (const auto limit = capture::holdLimit(static_cast<double>(width), static_cast<double>(height),
                                              capture::availableMemory())) {
        if (limit->kind == capture::HoldLimit::Kind::Width)
            return {Status::TooLarge,
                    shot::format(shot::tr("the page is %ld px wide, and a picture is at most %d px wide"), width,
                                 capture::kLargestPaint),
                    nullptr};
        return {Status::TooLarge,
                shot::format(shot::tr("the picture of %ld x %ld px needs %llu MB of memory, and %llu MB are free"), width,
                             height, static_cast<unsigned long long>(limit->needed >> 20),
                             static_cast<unsigned long long>(limit->available >> 20)),
                nullptr};
    }
    const auto painted = painter.paint(static_cast<int>(std::lround(page.width)), static_cast<int>(std::lround(page.height)),
                                       0xFFFFFF, std::max(1, remainingMs(deadline)), 0, r.scale);
    if (painted.timedOut || interrupted_) return hung(shot::tr("the page did not answer in time"));
    if (!painted.image)
        return {Status::LoadFailed, painted.error.empty() ? shot::tr("the engine could not paint the page") : painted.error,
                nullptr};
    return {Status::Ok, {}, painted.image};
}

}  // namespace platform::gtk
