// Photographing one page or a batch: the engine is asked for each picture, the
// picture written, the outcome reported, and the exit status made of them all.
#pragma once

#include <atomic>
#include <functional>
#include <vector>
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
    // A PDF: the engine's print-out, what the document says of itself, and its pages once written.
    std::shared_ptr<const capture::PrintOut> printed = nullptr;
    capture::DocumentFacts document = {};
    int pages = 0;
    bool onePage = false;  // asked as one page as tall as the document
};

// What the options ask of the engine for one address.
engine::ShotRequest requestFor(const Options&, const std::string& address);

// What the engine made of a page, in the command's words.
PageShot describe(const engine::ShotResult&);

class Ledger;

// The engines a run may use: this process's own (made when first asked for), workers
// of this program (a batch of several pages, --jobs), or a service (--service).
struct Engines {
    std::function<engine::IShotEngine&()> local;
    std::vector<std::string> worker;  // a worker's command line; empty: no workers
    std::function<void(Ledger&)> remote;  // photographs the pages the ledger does not have yet
};

// Runs what the options ask for; the exit status.
int run(const Options&, const Engines&, Console, const std::atomic<bool>& interrupted);
// The same with one engine.
int run(const Options&, engine::IShotEngine&, Console, const std::atomic<bool>& interrupted);

}  // namespace shot
