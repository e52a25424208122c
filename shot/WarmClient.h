// A one-page command photographed by the engine kept warm for its user: found on its
// socket, or started (detached, one for commands started at once), sent the page, and
// heard out. The page's file, standard error, report line and exit status are those of
// a command that photographs in its own process.
#pragma once

#include <atomic>
#include <optional>
#include <string>

#include "shot/Options.h"
#include "shot/Progress.h"

namespace shot {

// Whether the options ask for what a kept engine does: one page, of a command.
bool wantsWarmEngine(const Options&);

// Photographs the page in the kept engine: the exit status; nothing when it cannot be
// had there (said with -v), and the page is photographed by a program of its own.
// `engineProgram`: the program an engine is started from. Signals that end the command must be blocked, their
// handlers setting `interrupted`: they are let in while it waits.
std::optional<int> runWarm(const Options&, Console, const std::string& engineProgram,
                           const std::atomic<bool>& interrupted);

}  // namespace shot
