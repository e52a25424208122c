// A batch photographed by several engines at once: workers of this program, each an
// engine in a process of its own, as the service uses them. Each page's report line is
// written as it finishes, whatever the order.
#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "shot/Ledger.h"
#include "shot/Options.h"

namespace shot {

// Photographs the pages the ledger does not have yet with `engines` workers started
// with `workerCommand`, `engines` pages at a time. Interrupted, it starts no more pages
// and lets those under way finish, so that no file is left half-written.
void photographWithWorkers(const Options&, Ledger&, const std::vector<std::string>& workerCommand, int engines,
                           const std::atomic<bool>& interrupted);

}  // namespace shot
