// The capture service: `vemo-shot --serve`. Pictures over HTTP from engines that stay
// up, on libsoup's server.
#pragma once

#include <string>

#include "shot/Options.h"

namespace service {

// Serves until SIGTERM or SIGINT; the exit status. `self` is this program, started
// again as each engine's worker.
int serve(const shot::Options&, const std::string& self);

}  // namespace service
