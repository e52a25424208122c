// Measuring and painting the page a WebKit view holds: one whole-document paint for
// a page that fits one engine picture, strips beyond that. The pictures the engine
// hands back are adopted as they are, not copied.
#pragma once

#include <webkit2/webkit2.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "capture/Image.h"
#include "capture/PageSize.h"

namespace platform::gtk {

struct PaintResult {
    std::shared_ptr<capture::Image> image;  // null on failure
    bool timedOut = false;
    std::string error;  // the engine's reason, when it gave one
};

class PagePainter {
public:
    explicit PagePainter(WebKitWebView* view) : view_(view) {}

    // The body's metrics; empty without a document or body, or when the page does not answer.
    std::optional<capture::BodyMetrics> measure(int timeoutMs, bool* timedOut = nullptr);
    // Paints the whole page into a picture of the given size. `stripHeight` above 0
    // forces strips of that height even where one paint would do.
    PaintResult paint(int width, int height, std::uint32_t back, int timeoutMs, int stripHeight = 0);
    // Runs a script and waits for its value as text; empty on failure or time-out.
    std::optional<std::string> evaluate(const std::string& script, int timeoutMs, bool* timedOut = nullptr);

    // The engine's reason for the last script that failed.
    const std::string& lastError() const { return lastError_; }

private:
    PaintResult paintOnce(int width, int height, std::uint32_t back, int timeoutMs);
    PaintResult paintStrips(int width, int height, std::uint32_t back, int timeoutMs, int stripHeight);

    WebKitWebView* view_;
    std::string lastError_;
};

// Runs the main loop until `done` holds or `ms` milliseconds have passed.
bool iterateUntil(const std::function<bool()>& done, int ms);

}  // namespace platform::gtk
