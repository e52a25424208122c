// Where the warm-up (engine/Readiness) scrolls to show a page's scripts what they wait to
// see, as a script for the engine's world, run at the start of the warm-up's own.
//
// What a page waits to see: the elements its intersection observers watch (each as its
// observer sees it: from its root, with its margins and thresholds), images it leaves
// to load when near (loading=lazy, in shadow roots too) and frames (whose own scripts
// may wait to be seen). Each is seen from what scrolls it: its observer's root, else the
// nearest box around it that scrolls, else the page. The engine's scrolls are instant,
// whatever scrolling the page asks for, and where each one landed is what counts as
// seen: a page that snaps its scrolling is not asked again for what it will not show.
#pragma once

namespace engine {

// Defines, for the script that follows it: page, boxOf(e), scrollersOf(), sinceLast(),
// followAll(), pending(), unseen(), tried, inView, stopMirrors().
const char* sightlinesScript();

}  // namespace engine
