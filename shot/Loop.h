// Waiting on the main loop for something to be done, as batches and the engines' pool do.
#pragma once

#include <functional>

namespace shot {

// Turns the main loop until `done()` says so, or until `ms` milliseconds have passed
// (negative: no limit); whether it was done. `done` is asked after every turn, and at
// least every 50 ms, so it may also start more work or heed an interruption.
bool turnLoopUntil(const std::function<bool()>& done, int ms = -1);

}  // namespace shot
