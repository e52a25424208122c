#include "shot/WarmClient.h"

#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "capture/AtomicFile.h"
#include "shot/Ledger.h"
#include "shot/Messages.h"
#include "shot/Run.h"
#include "shot/WarmPlace.h"
#include "shot/WarmStart.h"
#include "shot/Worker.h"

extern char** environ;

namespace shot {

namespace {

// What became of one try of the page in an engine.
enum class Heard { Answer, Gone, Hung };

struct Asking {
    const Options& o;
    const std::atomic<bool>& interrupted;
    std::string socket;
    EngineStart start;
    Console con;
    int keepS;
};

// Sends the page (into `file` when there is one, else to its path) and hears the
// engine out: its answer, its end, or its silence past the page's time limit.
Heard ask(const Asking& a, int conn, const WorkerTask& task, int file, WorkerAnswer& answer) {
    std::string header = "{\"keep\":" + std::to_string(a.keepS) + ",\"file\":" + (file >= 0 ? "1" : "0") + "}\n";
    std::vector<int> fds{2};
    if (file >= 0) fds.push_back(file);
    if (!sendAll(conn, header + taskLine(task), fds)) return Heard::Gone;
    // Until the engine takes the page it may be busy with another command's.
    auto until = WarmClock::now() + std::chrono::seconds(a.o.timeoutS + 60);
    bool taken = false, stopping = false;
    std::string buffer;
    std::vector<Fd> none;
    for (;;) {
        bool signalled = false;
        if (!awaitReadable(conn, until, &signalled)) return Heard::Hung;
        if (a.interrupted && !stopping) {
            // Ctrl+C: the engine stops the page and answers that it was interrupted.
            stopping = true;
            sendAll(conn, "stop\n");
            until = std::min(until, WarmClock::now() + std::chrono::seconds(10));
        }
        if (signalled) continue;
        if (receive(conn, buffer, none) <= 0) return Heard::Gone;
        while (const auto line = takeLine(buffer)) {
            if (!taken && isReadyLine(*line)) {
                taken = true;
                // The engine keeps to the page's time limit; a little more for its picture.
                if (!stopping) until = WarmClock::now() + std::chrono::seconds(a.o.timeoutS + 5);
            } else if (const auto heard = parseAnswer(*line)) {
                answer = *heard;
                return Heard::Answer;
            }
        }
    }
}

struct Outcome {
    PageReport report;
    bool sent = false;  // the page reached an engine
};

// Photographs the page in the engine, a fresh one once more when the engine ended
// under it; writes into `file` (or the path itself when -1).
Outcome photograph(const Asking& a, Fd conn, int file, bool verbose) {
    WorkerTask task;
    task.id = 1;
    task.request = requestFor(a.o, a.o.address);
    task.path = std::filesystem::absolute(a.o.out).string();
    Outcome out;
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (attempt > 0) {
            if (file >= 0 && (::ftruncate(file, 0) != 0 || ::lseek(file, 0, SEEK_SET) != 0)) break;
            bool started = false;
            std::string why;
            conn = reachEngine(a.socket, a.start, started, why);
            if (!conn) {
                out.report.status = Status::LoadFailed;
                out.report.message = format(tr("the engine ended under the page, and no other could start: %s"), why.c_str());
                return out;
            }
        }
        if (verbose)
            if (const auto peer = peerOf(conn.get()))
                a.con.err << format(tr("vemo-shot: the page goes to the engine kept at %s (process %d)\n"), a.socket.c_str(),
                                    static_cast<int>(peer->pid));
        WorkerAnswer answer;
        const Heard heard = ask(a, conn.get(), task, file, answer);
        out.sent = true;
        if (heard == Heard::Answer) {
            out.report = answer.report;
            return out;
        }
        if (heard == Heard::Hung) {
            // Past the page's time limit: that engine is ended, and the page said late.
            if (const auto peer = peerOf(conn.get())) ::kill(peer->pid, SIGKILL);
            out.report.status = Status::TimedOut;
            out.report.message = tr("the page did not answer in time");
            return out;
        }
        if (a.interrupted) break;
    }
    out.report.status = a.interrupted ? Status::Interrupted : Status::LoadFailed;
    out.report.message = a.interrupted ? statusName(Status::Interrupted) : tr("the engine ended twice under the page");
    return out;
}

// A failure of the body of writeAtomically that is the page's, said by its report.
std::error_code notWritten() { return std::make_error_code(std::errc::operation_canceled); }

}  // namespace

bool wantsWarmEngine(const Options& o) {
    return o.list.empty() && o.service.empty() && !o.serve && !o.worker && o.warmEngine.empty() && !o.address.empty();
}

std::optional<int> runWarm(const Options& o, Console con, const std::string& engineProgram,
                           const std::atomic<bool>& interrupted) {
    const int keepS = keepSeconds(o.keepEngineS, std::getenv("VEMO_KEEP_ENGINE"));
    if (keepS == 0) return std::nullopt;
    std::string why;
    const std::string folder = warmFolder(why);
    std::vector<std::string> environment;
    for (char** e = environ; *e; ++e) environment.emplace_back(*e);
    // The engine's program is of the build too.
    const std::string key = engineKey(environment, o.scale, o.maxMemoryMB) + "\n" + programIdentity(engineProgram);
    const std::string socket = folder + "/" + socketName(key);
    if (!folder.empty() && !fitsSocketAddress(socket)) why = format(tr("the path '%s' is too long for a socket"), socket.c_str());
    EngineStart start{engineProgram, {"--warm-engine=" + socket, "--scale=" + std::to_string(o.scale),
                             "--max-memory=" + std::to_string(o.maxMemoryMB), "--keep-engine=" + std::to_string(keepS)}};
    bool started = false;
    Fd conn;
    if (why.empty()) conn = reachEngine(socket, start, started, why);
    if (!conn) {
        if (o.verbose) con.err << format(tr("vemo-shot: the page is photographed in this process: %s\n"), why.c_str());
        return std::nullopt;
    }
    if (o.verbose && started)
        con.err << format(tr("vemo-shot: started an engine that stays %d s after its last page\n"), keepS);

    const auto began = std::chrono::steady_clock::now();
    Ledger ledger(o, con, {{o.address, o.out, *capture::formatForName(o.out)}}, {});
    if (!ledger.openReport()) return kExitWriteFailed;
    ledger.begin(0);
    const Asking asking{o, interrupted, socket, start, con, keepS};
    Outcome outcome;
    // The file appears only when complete: the engine writes into a file of the
    // destination's folder, which takes the destination's name once the page is written.
    const auto error = capture::writeAtomically(o.out, [&](int file) {
        outcome = photograph(asking, std::move(conn), file, o.verbose);
        return written(outcome.report.status) ? std::error_code() : notWritten();
    });
    // Where no such file can be made, the engine writes to the path, and fails as the
    // command itself would.
    if (!outcome.sent) outcome = photograph(asking, std::move(conn), -1, o.verbose);
    else if (error && error != notWritten() && written(outcome.report.status)) {
        outcome.report.status = Status::WriteFailed;
        outcome.report.message = error.message();
    }
    auto& report = outcome.report;
    report.milliseconds = static_cast<long>(
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - began).count());
    ledger.finish(0, report);
    return ledger.end(interrupted);
}

}  // namespace shot
