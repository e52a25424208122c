// Bringing a loaded page to the state a person looking at it would see once it has
// settled: web fonts in, what the page's own scripts wait for woken (and nothing else),
// animations at rest, late paints given a short quiet period.
#pragma once

#include <webkit2/webkit2.h>

#include <functional>
#include <string>

#include "engine/Shot.h"

namespace engine {

struct ReadyOptions {
    int ms = 10000;        // the limit of it all
    bool wake = true;      // scroll to what the page's scripts wait to see
    bool rest = true;      // finite animations at their end, endless ones held as they stand
    int quietMs = 1500;    // the longest wait for a quiet page
    int growUpTo = kGrowUpTo;  // CSS px: how tall a page that grows as it is scrolled is followed
};

struct Readiness {
    bool answered = false;   // the page ran it to its end (else it moved on, or did not answer)
    bool stillGrowing = false;  // stopped at the limit while the page kept growing
    bool leaving = false;       // the page has begun to leave for another address
    int refreshSeconds = -1; // a refresh to another address the page asks for, in seconds
    int stillLoading = 0;    // images not yet in
    std::string firstMissing;
};

// Starts readying the page, in the engine's script world, from what engine/Watch has
// noted; `done` hears how it went, also when the page moved on or its process ended.
// A measurement stops it where it is.
void startReadiness(WebKitWebView*, const ReadyOptions&, std::function<void(const Readiness&)> done);

}  // namespace engine
