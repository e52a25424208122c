// A worker of the capture service: one engine in a process of its own, taking one
// capture at a time from the service over a pipe. A request is one line of the
// command's arguments separated by tabs; the answer one line of tab-separated fields:
// status, width, height, milliseconds, the file written (or nothing), the message.
#pragma once

#include <atomic>
#include <istream>
#include <ostream>
#include <string>
#include <vector>

#include "engine/Shot.h"

namespace shot {

struct WorkerAnswer {
    std::string status;  // as the report says it
    int width = 0, height = 0;
    long milliseconds = 0;
    std::string file, message;
};

std::string requestLine(const std::vector<std::string>& args);
std::string answerLine(const WorkerAnswer&);
bool parseAnswer(const std::string& line, WorkerAnswer&);

// Answers requests until `in` ends; pictures are written into `dir`.
void serveAsWorker(engine::IShotEngine&, const std::string& dir, std::istream& in, std::ostream& out,
                   const std::atomic<bool>& interrupted);

}  // namespace shot
