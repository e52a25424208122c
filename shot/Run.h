// Photographing one page or a batch: the engine is asked for each picture, the
// picture written, the outcome reported, and the exit status made of them all.
#pragma once

#include <atomic>
#include <memory>
#include <ostream>
#include <string>

#include "capture/Image.h"
#include "shot/Options.h"

namespace shot {

enum class Status { Ok, LoadFailed, TimedOut, TooLarge, WriteFailed, Interrupted };
const char* statusName(Status);  // as the report says it
Exit exitFor(Status);

struct PageRequest {
    std::string address;
    int width = 1280, height = 1024, scale = 1;
    int waitMs = 0, timeoutMs = 30000;
    bool warmUp = true;
};

struct PageShot {
    Status status = Status::Ok;
    std::string message;  // why it failed, in the engine's words where it gave them
    std::shared_ptr<const capture::Image> image;
};

class IPageEngine {
public:
    virtual ~IPageEngine() = default;
    virtual PageShot photograph(const PageRequest&) = 0;
};

struct Console {
    std::ostream& err;
    bool live = false;  // standard error is a terminal: one live progress line
};

// One JSON line of the report.
std::string reportLine(const std::string& address, const std::string& file, int width, int height, long ms,
                       Status status, const std::string& message);

// Runs what the options ask for; the exit status.
int run(const Options&, IPageEngine&, Console, const std::atomic<bool>& interrupted);

}  // namespace shot
