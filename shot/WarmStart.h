// Reaching the kept engine of a socket, or starting it: detached from the command's
// session and from every descriptor the command inherited, so that whoever waits for
// the command's output does not wait for the engine. Commands started at once start
// one engine between them (a lock beside the socket).
#pragma once

#include <string>
#include <vector>

#include "shot/WarmChannel.h"

namespace shot {

struct EngineStart {
    std::string self;               // this program
    std::vector<std::string> args;  // the engine's options
    int limitS = 60;                // for it to be ready
};

// A connection to the engine at `socket`, started first when none listens there
// (`started` then says so); none, with why, when it could not be had.
Fd reachEngine(const std::string& socket, const EngineStart&, bool& started, std::string& why);

}  // namespace shot
