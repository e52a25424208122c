// Photographing one page or a batch: the engine is asked for each picture, the
// picture written, the outcome reported, and the exit status made of them all.
#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "capture/Image.h"
#include "engine/Shot.h"
#include "shot/Options.h"
#include "shot/Progress.h"
#include "shot/Report.h"

namespace shot {

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

// Runs what the options ask for; the exit status.
int run(const Options&, engine::IShotEngine&, Console, const std::atomic<bool>& interrupted);

}  // namespace shot
