// Photographing one page or a batch: the engine is asked for each picture, the
// picture written, the outcome reported, and the exit status made of them all.
#pragma once

#include <atomic>
#include <memory>
#include <ostream>
#include <string>

#include "capture/Image.h"
#include "engine/Shot.h"
#include "shot/Options.h"

namespace shot {

enum class Status { Ok, Incomplete, LoadFailed, TimedOut, TooLarge, WriteFailed, Interrupted, BadRequest, NoElement,
                    ScriptFailed };
const char* statusName(Status);  // as the report says it
Exit exitFor(Status);

struct PageShot {
    Status status = Status::Ok;
    std::string message;  // why it failed, or what the picture lacks
    std::shared_ptr<const capture::Image> image;
};

// What the options ask of the engine for one address.
engine::ShotRequest requestFor(const Options&, const std::string& address);

// What the engine made of a page, in the command's words.
PageShot describe(const engine::ShotResult&);

struct Console {
    std::ostream& err;
    bool live = false;  // standard error is a terminal: one live progress line
};

// One JSON line of the report.
std::string reportLine(const std::string& address, const std::string& file, int width, int height, long ms,
                       Status status, const std::string& message);

// Runs what the options ask for; the exit status.
int run(const Options&, engine::IShotEngine&, Console, const std::atomic<bool>& interrupted);

}  // namespace shot
