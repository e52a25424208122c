// Making the changes a capture asks for in a web view's page, and putting them back.
#pragma once

#include <webkit2/webkit2.h>

#include <atomic>

#include "engine/Adjustments.h"

namespace engine {

// Makes the changes asked for, in order: waits, hides and removes, adds the style, runs
// the script, lets a scrolling box out, and finds the part. Waits on the main loop up
// to `ms`.
Adjusted adjust(WebKitWebView*, const Adjustments&, int ms, const std::atomic<bool>* cancel);
// Puts back what the changes altered in the page.
void putBack(WebKitWebView*, int ms, const std::atomic<bool>* cancel);
// The same, unwaited: whatever runs in the page after it finds the page put back.
void sendPutBack(WebKitWebView*);

}  // namespace engine
