// The engine kept warm for one-page commands: a process of its own, detached from
// whoever started it, that photographs one page at a time for the commands of its
// user that connect to its socket, and ends once nobody asked for a while.
#pragma once

#include <atomic>
#include <string>

#include "engine/Shot.h"

namespace shot {

// First thing in a kept engine's process: its standard error (and what the engine's own
// processes print there) goes to a pipe it reads itself, to be passed on to the command
// whose page is under way. The pipe's reading end.
int takeEngineErrors();

struct WarmEngineSetup {
    std::string socket;  // where it listens
    int keepS = 30;      // how long it stays after a page; each page may change it
    int errors = -1;     // the reading end of takeEngineErrors()
    int ready = -1;      // told "ready" once it listens, then closed
};

// Serves pages until it has been idle for its time, `quit` is set, or a page that gave
// a login was served (the engine would keep the login). Each page starts with a fresh
// identity. `stop` is the engine's own interruption: set while a page's command asks
// for it to stop, or leaves. The exit status.
int serveWarm(engine::IShotEngine&, const WarmEngineSetup&, std::atomic<bool>& stop, const std::atomic<bool>& quit);

}  // namespace shot
