// Measuring and painting the page a WebKit view holds: one whole-document paint for
// a page that fits one engine picture, strips beyond that. The pictures the engine
// hands back are adopted as they are, not copied.
#pragma once

#include <webkit2/webkit2.h>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "capture/Image.h"
#include "capture/PageSize.h"
#include "engine/Scripting.h"

namespace engine {

// Runs the main loop until `done` holds or `ms` milliseconds have passed; whether it
// held. A `cancel` flag, when given and set, ends the wait at once, as a time-out.
bool iterateUntil(const std::function<bool()>& done, int ms, const std::atomic<bool>* cancel = nullptr);

struct PaintResult {
    std::shared_ptr<capture::Image> image;  // null on failure
    bool timedOut = false;
    std::string error;  // the engine's reason, when it gave one
    // The page's size as measured, in the picture's pixels, when the engine painted less of
    // it, or when it was shorter once painted (0 otherwise): the image then holds what it
    // painted, from the top.
    int pageWidth = 0, pageHeight = 0;
};

class PagePainter {
public:
    // `cancel`, when given and set, ends every wait at once, as a time-out.
    explicit PagePainter(WebKitWebView* view, const std::atomic<bool>* cancel = nullptr) : view_(view), cancel_(cancel) {}

    // The body's metrics, with every section that renders only when seen shown until the
    // paint's end (`again`: after the paint's end, then put back); empty without a
    // document or body, or when the page does not answer.
    std::optional<capture::BodyMetrics> measure(int timeoutMs, bool* timedOut = nullptr, bool again = false);
    // Paints the whole page, measured in CSS pixels, into a picture `scale` times its
    // size (the view's device scale). `stripHeight` above 0 forces strips of that
    // height even where one paint would do.
    // `transparent`: the page's background where it sets none stays transparent, and the
    // picture keeps its alpha.
    PaintResult paint(int width, int height, std::uint32_t back, int timeoutMs, int stripHeight = 0, int scale = 1,
                      bool transparent = false);
    // Runs a script (in the page's world unless said) and waits for its value as text;
    // empty on failure or time-out.
    std::optional<std::string> evaluate(const std::string& script, int timeoutMs, bool* timedOut = nullptr,
                                        World world = World::Page);

    // The engine's reason for the last script that failed.
    const std::string& lastError() const { return lastError_; }

private:
    PaintResult paintOnce(int width, int height, std::uint32_t back, int timeoutMs, int scale);
    PaintResult paintStrips(int width, int height, std::uint32_t back, int timeoutMs, int stripHeight, int scale);
    bool transparent_ = false;

    bool wait(const std::function<bool()>& done, int ms) { return iterateUntil(done, ms, cancel_); }

    WebKitWebView* view_;
    const std::atomic<bool>* cancel_;
    std::string lastError_;
};

}  // namespace engine
