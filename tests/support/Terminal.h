// Running a built program on a terminal of its own (a pseudo-terminal), as a user at a
// terminal runs it.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "tests/support/Command.h"

namespace support {

// Runs `argv` with a pseudo-terminal of `columns` as its standard input, output and
// error, the environment changed by `env` as runCommand changes it; `out` is all it
// wrote there. A command still running after `limit` is ended (status 128 + SIGKILL).
// Once `interruptWhen` says so (asked as it writes, and every 100 ms), Ctrl+C is typed.
Outcome runInTerminal(const std::vector<std::string>& argv, const std::vector<std::string>& env = {},
                      int columns = 80, std::chrono::seconds limit = std::chrono::seconds(120),
                      const std::function<bool(const std::string& out)>& interruptWhen = {});

}  // namespace support
