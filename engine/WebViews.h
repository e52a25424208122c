// The engine's settings every web view of both programs shares.
#pragma once

#include <webkit2/webkit2.h>

#include <string>

namespace engine {

// Before the toolkit starts: the programs keep no settings and no shader cache on disk.
void keepNothingOnDisk();

// Before the toolkit starts: pages are shown in their light colour scheme whatever the
// host's theme (a dark variant of the theme named in GTK_THEME is taken light). After it
// has started, setColorScheme() picks either for the pages to come.
void keepPagesLight();
// Each change reaches the engine (a new theme, every view): only real ones are made.
void setColorScheme(bool dark);
// Whether a view leaves the page's missing background transparent, or white.
void setTransparent(WebKitWebView*, bool transparent);

// Before the toolkit starts: a session bus whose address does not answer (a stale
// session's) is forgotten. The engine's sandbox would start a proxy to it, fail, and stop
// the program; run as root, it would leave its sandbox off for every later engine.
void forgetSessionBusThatIsGone();

// Starts, in the background, the check of whether the engine's sandbox can run here,
// so that the first web context need not wait for it.
void startSandboxCheck();

// Before the first web view: the most memory a page's web process may take, in
// megabytes; past it the process is ended and its page fails with that reason.
void limitPageMemory(int megabytes);

// The web context every view shares: ephemeral, so nothing is written to disk, and
// sandboxed where the system allows it (said on standard error where it does not).
WebKitWebContext* sharedWebContext();

struct ViewRole {
    bool outOfSight = false;    // nobody sees it: no keyboard, page dialogs answered at once, no printing
    bool eagerLoading = false;  // a capture view: images and frames marked lazy load at once, and what
                                // the page's scripts wait for is noted for its readiness
};

// A new view in the shared context, set up for its role. No view prints: pages'
// requests to print are refused. Views people see answer a page's dialogs themselves
// until it has shown three within ten seconds; after that at once, as nobody-sees views do.
WebKitWebView* newWebView(const ViewRole&);

// The engine's sandbox leaves a folder for each web process it starts in the user's
// runtime folder (or, where there is none, the cache folder), named after this
// process, for desktop portals to read while that web process runs. Nothing else
// removes them: the programs do, as they end.
void removeSandboxFolders();

}  // namespace engine
