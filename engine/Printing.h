// Printing the page a WebKit view holds to a PDF, on GTK's "Print to File" printer:
// laid out for print on the paper asked for, with where its headings and links fell in
// that layout, read by a script of the engine's own while the page is laid out so.
#pragma once

#include <webkit2/webkit2.h>

#include <atomic>
#include <memory>
#include <string>

#include "capture/PrintOut.h"
#include "engine/Shot.h"

namespace engine {

// CSS pixels the engine lays out across a point of the paper's printed width.
inline constexpr double kCssPerPoint = 1.25;
// The tallest page common readers open, in points (200 in): a document printed as one
// page continues on further pages of this height.
inline constexpr double kTallestPage = 14400;

// The paper and margins a layout asks for, for a screen `screenWidth` CSS pixels wide:
// one page as tall as the document is `kTallestPage` tall, its last page trimmed.
capture::PrintGeometry paperFor(const PrintLayout&, int screenWidth);

struct Printed {
    std::shared_ptr<capture::PrintOut> out;  // null on failure
    bool timedOut = false;
    std::string error;  // the engine's reason, when it gave one
};

// Prints the page; waits for the print to finish or fail, at most `timeoutMs` (a
// `cancel` flag, when given and set, ends the wait at once, as a time-out).
Printed printPage(WebKitWebView*, const PrintLayout&, int screenWidth, int timeoutMs,
                  const std::atomic<bool>* cancel = nullptr);

}  // namespace engine
