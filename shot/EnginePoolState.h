// What the engines' pool keeps of each worker process and each scale: shared by the
// pool's queueing (EnginePool.cpp) and its processes' lives (EngineProcesses.cpp).
#pragma once

#include <algorithm>
#include <memory>
#include <string>

#include "shot/EnginePool.h"

namespace shot {

struct EnginePool::Worker {
    EnginePool* pool = nullptr;
    Group* group = nullptr;
    GSubprocess* process = nullptr;
    GOutputStream* in = nullptr;
    GDataInputStream* out = nullptr;
    unsigned generation = 0;  // grows with each process: late words of an old one are not heard
    bool ready = false;       // its engine is up
    std::shared_ptr<EngineJob> job;
    guint guard = 0, retry = 0;
    bool overdue = false, cancelled = false;
    // Its end is heard twice: its answers' channel closes once every answer is read,
    // and the process is reaped. The second of the two ends it here.
    bool eof = false, reaped = false;
    bool retiring = false;  // it said its last answer: it ends by itself, and is replaced
    bool lost = false;      // that answer said its engine failed
    guint drain = 0;
    std::string how;  // how its last process ended, or why it could not be started
};

struct EnginePool::Group {
    int scale = 1;
    std::vector<std::unique_ptr<Worker>> workers;
    std::deque<std::shared_ptr<EngineJob>> queue;
    int failures = 0;  // starts that failed in a row
    std::string why;   // how the last of them failed
    bool unavailable() const {
        return failures > 0 && std::none_of(workers.begin(), workers.end(), [](const auto& w) { return w->ready; });
    }
};


namespace pool {

struct Call {
    EnginePool::Worker* worker;
    unsigned generation;
    std::shared_ptr<bool> alive;
};

inline WorkerAnswer failure(unsigned long id, TaskEnd end, Status status, const std::string& message) {
    WorkerAnswer a;
    a.id = id;
    a.end = end;
    a.report.status = status;
    a.report.message = message;
    return a;
}

inline constexpr int kGraceS = 15;  // a worker keeps its task's time limit; this much past it, it is ended

}  // namespace pool

}  // namespace shot
