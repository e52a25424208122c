// What a capture view's pages wait for and do once loaded, noted from before their own
// scripts run, for their readiness (engine/Readiness) to read.
//
// Most of it is seen from the engine's own script world: changes to the document, and
// a page that begins to leave. What a page's scripts ask of their own world (the
// elements their intersection observers watch, their scroll listeners, their short
// timers, their requests) can only be seen there: a small hook in the page's world
// wraps those functions before the page's scripts run. It keeps what it notes in a
// closure no page script can reach, uses only functions it took before them, and
// tells the engine's world only when asked, by events whose names are made afresh for
// each view, which the engine's world takes first and stops there.
#pragma once

#include <webkit2/webkit2.h>

namespace engine {

// Adds both scripts to a view's pages (its top frame): the hook in the page's world,
// and the watcher in the engine's (window.__vemoWatch there).
void watchPages(WebKitUserContentManager*);

}  // namespace engine
