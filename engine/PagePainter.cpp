#include "engine/PagePainter.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <optional>
#include <utility>
#include <vector>

#include "capture/PageSize.h"
#include "capture/Strips.h"

namespace engine {

bool iterateUntil(const std::function<bool()>& done, int ms, const std::atomic<bool>* cancel) {
    const gint64 deadline = g_get_monotonic_time() + static_cast<gint64>(ms) * 1000;
    auto cancelled = [cancel] { return cancel && *cancel; };
    // A wake-up source, so the loop never sleeps past the deadline.
    const guint wake = g_timeout_add(20, [](gpointer) -> gboolean { return G_SOURCE_CONTINUE; }, nullptr);
    bool ok = done();
    while (!ok && !cancelled() && g_get_monotonic_time() < deadline) {
        g_main_context_iteration(nullptr, TRUE);
        ok = done();
    }
    g_source_remove(wake);
    return ok && !cancelled();
}

namespace {

// Replies that may come after their waiter has given up are kept until both are done.
struct Pending {
    int outstanding = 0;
    std::vector<cairo_surface_t*> pictures;
    std::vector<std::string> errors;
    std::vector<bool> replies;  // of the scripts sent alongside: whether each gave a value
    ~Pending() {
        for (auto* s : pictures)
            if (s) cairo_surface_destroy(s);
    }
};

struct SnapshotCall {
    std::shared_ptr<Pending> pending;
    std::size_t index;
};

void snapshotDone(GObject* source, GAsyncResult* result, gpointer data) {
    std::unique_ptr<SnapshotCall> call(static_cast<SnapshotCall*>(data));
    GError* error = nullptr;
    cairo_surface_t* s = webkit_web_view_get_snapshot_finish(WEBKIT_WEB_VIEW(source), result, &error);
    auto& p = *call->pending;
    p.pictures[call->index] = s;
    if (error) {
        p.errors[call->index] = error->message;
        g_error_free(error);
    }
    --p.outstanding;
}

// What was wrong with an engine picture that could not be used.
std::string pictureProblem(cairo_surface_t* s, const std::string& engineError, int width, int rows) {
    if (!engineError.empty()) return engineError;
    if (!s || cairo_surface_get_type(s) != CAIRO_SURFACE_TYPE_IMAGE) return "the engine gave no picture";
    return "the engine's picture is " + std::to_string(cairo_image_surface_get_width(s)) + " x " +
           std::to_string(cairo_image_surface_get_height(s)) + " px, short of the page's " + std::to_string(width) +
           " x " + std::to_string(rows);
}

void requestSnapshot(WebKitWebView* view, const std::shared_ptr<Pending>& pending, std::size_t index,
                     bool transparent = false) {
    ++pending->outstanding;
    webkit_web_view_get_snapshot(view, WEBKIT_SNAPSHOT_REGION_FULL_DOCUMENT,
                                 transparent ? WEBKIT_SNAPSHOT_OPTIONS_TRANSPARENT_BACKGROUND : WEBKIT_SNAPSHOT_OPTIONS_NONE, nullptr,
                                 snapshotDone, new SnapshotCall{pending, index});
}

// A script of the engine's sent alongside snapshots; whether it gave a value is kept.
void sendAlong(WebKitWebView* view, const std::string& script, const std::shared_ptr<Pending>& pending) {
    const std::size_t index = pending->replies.size();
    pending->replies.push_back(false);
    ++pending->outstanding;
    sendScript(view, script, World::Engine, [pending, index](ScriptReply&& r) {
        pending->replies[index] = r.value.present();
        --pending->outstanding;
    });
}

// Whether every script sent alongside answered.
bool allAnswered(const Pending& p) {
    return std::all_of(p.replies.begin(), p.replies.end(), [](bool r) { return r; });
}

// The size of an engine picture that can be used; nothing for one that cannot.
std::optional<std::pair<int, int>> usable(cairo_surface_t* s) {
    if (!s || cairo_surface_get_type(s) != CAIRO_SURFACE_TYPE_IMAGE) return std::nullopt;
    cairo_surface_flush(s);
    const cairo_format_t format = cairo_image_surface_get_format(s);
    if (!cairo_image_surface_get_data(s) || (format != CAIRO_FORMAT_ARGB32 && format != CAIRO_FORMAT_RGB24)) return std::nullopt;
    return std::pair{cairo_image_surface_get_width(s), cairo_image_surface_get_height(s)};
}

// Puts the first `rows` rows of an engine picture into the image as its next band:
// adopted as they are when the picture is wide enough, copied otherwise.
bool addBand(capture::Image& image, cairo_surface_t* s, int top, int rows) {
    const auto size = usable(s);
    if (!size) return false;
    const int stride = cairo_image_surface_get_stride(s);
    const auto* data = cairo_image_surface_get_data(s);
    // A picture short of the image is a failure: it is never padded out.
    if (size->first < image.width() || size->second < rows) return false;
    cairo_surface_reference(s);
    image.append({top, rows, static_cast<std::size_t>(stride), data,
                  std::shared_ptr<const void>(s, [](const void* p) {
                      cairo_surface_destroy(static_cast<cairo_surface_t*>(const_cast<void*>(p)));
                  })});
    return true;
}

}  // namespace

std::optional<std::string> PagePainter::evaluate(const std::string& script, int timeoutMs, bool* timedOut, World world) {
    auto r = engine::evaluate(view_, script, world, timeoutMs, cancel_);
    lastError_ = r.error;  // the reason is this script's, never an older one's
    if (timedOut) *timedOut = !r.answered;
    if (!r.value.present()) return std::nullopt;
    // Text as the page's own String() makes it.
    if (JSCValue* v = r.value.get()) {
        char* text = jsc_value_to_string(v);
        std::string out = text ? text : "";
        g_free(text);
        return out;
    }
    return std::nullopt;
}

std::optional<capture::BodyMetrics> PagePainter::measure(int timeoutMs, bool* timedOut, bool again) {
    auto r = engine::evaluate(view_, again ? capture::measureAgainScript() : capture::measureScript(), World::Engine,
                              timeoutMs, cancel_);
    lastError_ = r.error;
    if (timedOut) *timedOut = !r.answered;
    long v[8];
    for (unsigned i = 0; i < 8; ++i) {
        const double d = r.value.at(i).number(NAN);
        if (!std::isfinite(d)) return std::nullopt;
        v[i] = std::lround(d);
    }
    return capture::BodyMetrics{v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7]};
}

PaintResult PagePainter::paint(int width, int height, std::uint32_t back, int timeoutMs, int stripHeight, int scale,
                               bool transparent) {
    scale = std::max(1, scale);
    transparent_ = transparent;
    if (stripHeight <= 0 && static_cast<long>(height) * scale <= capture::kLargestPaint)
        return paintOnce(width, height, back, timeoutMs, scale);
    return paintStrips(width, height, back, timeoutMs, stripHeight > 0 ? stripHeight : capture::kStripHeight / scale, scale);
}

PaintResult PagePainter::paintOnce(int width, int height, std::uint32_t back, int timeoutMs, int scale) {
    // Readied as for strips, painted, and put back, back to back: the page handles them in order.
    auto pending = std::make_shared<Pending>();
    pending->pictures.resize(1);
    pending->errors.resize(1);
    sendAlong(view_, capture::paintBeginScript(), pending);
    requestSnapshot(view_, pending, 0, transparent_);
    sendAlong(view_, capture::stripsEndScript(), pending);
    PaintResult result;
    result.timedOut = !wait([&] { return pending->outstanding == 0; }, timeoutMs);
    if (result.timedOut) return result;
    if (!allAnswered(*pending)) {
        result.error = "the page did not take the paint's preparation";
        return result;
    }
    const auto painted = usable(pending->pictures[0]);
    if (!painted) {
        result.error = pictureProblem(pending->pictures[0], pending->errors[0], width * scale, height * scale);
        return result;
    }
    // A picture short of the page holds what was painted, and says how much that was.
    const int w = std::min(width * scale, painted->first), h = std::min(height * scale, painted->second);
    if (w < width * scale || h < height * scale) {
        result.pageWidth = width * scale;
        result.pageHeight = height * scale;
    }
    auto image = std::make_shared<capture::Image>(w, h, back);
    image->setAlpha(transparent_);
    addBand(*image, pending->pictures[0], 0, h);
    result.image = image;
    return result;
}

PaintResult PagePainter::paintStrips(int width, int height, std::uint32_t back, int timeoutMs, int stripHeight,
                                     int scale) {
    PaintResult result;
    const auto begun = engine::evaluate(view_, capture::stripsBeginScript(height), World::Engine, timeoutMs, cancel_);
    result.timedOut = !begun.answered;
    if (!begun.value.present()) {
        result.error = begun.error;
        return result;
    }

    // Every strip's layout and paint go out back to back: the page handles them in order.
    const auto strips = capture::planStrips(height, stripHeight);
    auto pending = std::make_shared<Pending>();
    pending->pictures.resize(strips.size());
    pending->errors.resize(strips.size());
    for (std::size_t k = 0; k < strips.size(); ++k) {
        sendAlong(view_, capture::stripScript(strips[k]), pending);
        requestSnapshot(view_, pending, k, transparent_);
    }
    sendAlong(view_, capture::stripsEndScript(), pending);
    result.timedOut = !wait([&] { return pending->outstanding == 0; }, timeoutMs);
    if (result.timedOut) return result;
    // A strip the page did not lay out would be painted as some other part of it.
    if (!allAnswered(*pending)) {
        result.error = "the page did not lay out every strip";
        return result;
    }

    // Strips short of the page give what was painted: as wide as the narrowest, down to the
    // first strip that ended early.
    int w = width * scale, h = 0;
    for (std::size_t k = 0; k < strips.size(); ++k) {
        const auto painted = usable(pending->pictures[k]);
        if (!painted) {
            result.error = pictureProblem(pending->pictures[k], pending->errors[k], width * scale, strips[k].height * scale);
            return result;
        }
        w = std::min(w, painted->first);
        h += std::min(strips[k].height * scale, painted->second);
        if (painted->second < strips[k].height * scale) break;
    }
    if (w < width * scale || h < height * scale) {
        result.pageWidth = width * scale;
        result.pageHeight = height * scale;
    } else if (const auto after = measure(timeoutMs, &result.timedOut, true)) {
        // Each strip was laid out to the height measured before: a page that has since
        // become shorter is painted padded out to it, and is said to be shorter.
        const long now = std::lround(capture::pageSize(*after).height) * scale;
        if (now + scale < h) {
            result.pageWidth = width * scale;
            result.pageHeight = static_cast<int>(now);
        }
    }
    if (result.timedOut) return result;
    auto image = std::make_shared<capture::Image>(w, h, back);
    image->setAlpha(transparent_);
    for (std::size_t k = 0; k < strips.size() && strips[k].top * scale < h; ++k)
        addBand(*image, pending->pictures[k], strips[k].top * scale, std::min(strips[k].height * scale, h - strips[k].top * scale));
    result.image = image;
    return result;
}

}  // namespace engine
