// A worker: one engine in a process of its own, taking one capture at a time over a
// pipe, for the service and for batches of several engines. Both ways a message is one
// line of JSON. A task names its id, the capture request and the file to write; the
// answer names the same id. A worker says {"ready":true} once its engine is up. Its
// answers go on a channel of their own: whatever else it or its engine's processes
// print never reaches the one who reads them.
#pragma once

#include <atomic>
#include <optional>
#include <string>

#include "engine/Shot.h"
#include "shot/Report.h"

namespace shot {

struct WorkerTask {
    unsigned long id = 0;
    engine::ShotRequest request;
    std::string path;  // the file to write, in the request's format
    bool thumbnail = false;  // a thumbnail beside it, for a batch's contact sheet
    // The engine forgets what earlier pages left first (another caller's); the pages of
    // one batch, asked for by one caller, need not.
    bool fresh = true;
};

// How a task ended, as the pool tells it.
enum class TaskEnd {
    Page,         // as its report's status says: the engine's word, or the pool's for a
                  // page it stopped (past its time limit, or cancelled)
    Unavailable,  // no engine could be started for it
    EngineLost,   // its engine ended before it answered
};

struct WorkerAnswer {
    unsigned long id = 0;
    TaskEnd end = TaskEnd::Page;
    PageReport report;  // the page's, as a batch's report says it (its file: the picture written)
    bool last = false;  // the worker ends after this answer, and takes no more tasks
    bool lost = false;  // and it ends because its engine failed (else: it answered a login)
};

std::string taskLine(const WorkerTask&);
std::optional<WorkerTask> parseTask(const std::string& line, std::string& why);
std::string answerLine(const WorkerAnswer&);
std::optional<WorkerAnswer> parseAnswer(const std::string& line);
// Whether a line is a worker's word that its engine is up.
bool isReadyLine(const std::string& line);

// Takes standard output for a worker's answers alone, before anything else starts:
// the engine's processes do not inherit it, and what anything prints there from now
// on goes to standard error. The channel's file descriptor.
int takeAnswerChannel();

// Answers tasks read from standard input until it ends or `interrupted`, which is
// heeded also while it waits for the next task; answers go to `channel`.
void serveAsWorker(engine::IShotEngine&, int channel, const std::atomic<bool>& interrupted);

}  // namespace shot
