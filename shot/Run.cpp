#include "shot/Run.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <iostream>
#include <set>
#include <thread>
#include <vector>

#include "capture/ImageFiles.h"
#include "shot/Batch.h"
#include "shot/Index.h"
#include "shot/Ledger.h"
#include "shot/Messages.h"
#include "shot/PageFile.h"
#include "shot/Parallel.h"

namespace shot {

namespace {

// Whether files can be made in a folder, which is made first when it is missing (with
// the folders above it): tried, since permissions do not tell all (read-only mounts,
// and root, who passes every permission test).
std::string folderProblem(const std::string& dir) {
    struct stat st{};
    if (::stat(dir.c_str(), &st) != 0 && errno == ENOENT) {
        std::error_code ec;
        std::filesystem::create_directories(dir, ec);
        if (ec) return ec.message();
    }
    if (::stat(dir.c_str(), &st) != 0) return std::strerror(errno);
    if (!S_ISDIR(st.st_mode)) return std::strerror(ENOTDIR);
    std::string probe = dir + "/.vemo-shot.XXXXXX";
    const int fd = ::mkstemp(probe.data());
    if (fd < 0) return std::strerror(errno);
    ::close(fd);
    ::unlink(probe.c_str());
    return {};
}

// The pages the options ask for; false, with the exit status, when they cannot be had.
bool plan(const Options& o, Console con, std::vector<BatchPage>& pages, int& status) {
    if (o.list.empty()) {
        pages.push_back({o.address, o.out, *capture::formatForName(o.out)});
        return true;
    }
    std::vector<std::string> addresses;
    if (o.list == "-") {
        addresses = readList(std::cin);
    } else {
        std::ifstream in(o.list);
        if (!in) {
            con.err << format(tr("vemo-shot: cannot read the list '%s': %s\n"), o.list.c_str(), std::strerror(errno));
            status = kExitUsage;
            return false;
        }
        addresses = readList(in);
    }
    if (const auto problem = folderProblem(o.outDir); !problem.empty()) {
        con.err << format(tr("vemo-shot: cannot write into '%s': %s\n"), o.outDir.c_str(), problem.c_str());
        status = kExitWriteFailed;
        return false;
    }
    std::set<std::string> taken;
    for (const auto& a : addresses)
        pages.push_back({a, o.outDir + "/" + fileNameFor(a, capture::formatExtension(o.batchFormat), taken), o.batchFormat});
    return true;
}

// Photographs every page the ledger does not have yet, one at a time; each picture is
// written while the engine takes the next page.
void photographAll(const Options& o, engine::IShotEngine& engine, Ledger& ledger, const std::atomic<bool>& interrupted) {
    using Clock = std::chrono::steady_clock;
    struct Outcome {
        std::size_t page;
        Clock::time_point began, ended;
        PageShot shot;
        PageReport report;
    };
    auto finish = [&](Outcome& r) {
        // The page's own time: its capture and its file, not the next page's capture.
        if (r.ended == Clock::time_point{}) r.ended = Clock::now();
        r.report.milliseconds = static_cast<long>(std::chrono::duration<double, std::milli>(r.ended - r.began).count());
        r.report.status = r.shot.status;
        r.report.message = r.shot.message;
        r.report.pages = r.shot.pages;
        ledger.finish(r.page, std::move(r.report));
    };
    std::future<Outcome> writing;
    auto settle = [&] {
        if (!writing.valid()) return;
        auto done = writing.get();
        finish(done);
    };
    for (std::size_t i = 0; i < ledger.pages().size() && !interrupted; ++i) {
        if (ledger.writtenBefore(i)) continue;
        const auto& page = ledger.pages()[i];
        ledger.begin(i);
        Outcome r{i, Clock::now(), {}, {}, {}};
        const auto request = requestFor(o, page.address);
        r.shot = shootPage(engine, request, r.report);
        settle();
        if (r.shot.image || r.shot.printed) {
            writing = std::async(std::launch::async, [r = std::move(r), &page, request, &o]() mutable {
                writePage(r.shot, page.path, request.picture, o.index);
                r.ended = Clock::now();
                return std::move(r);
            });
            continue;
        }
        r.shot.image.reset();
        finish(r);
    }
    // A picture under way is finished, also on Ctrl+C: no half-written file is left.
    settle();
}

}  // namespace

int run(const Options& o, const Engines& engines, Console con, const std::atomic<bool>& interrupted) {
    std::vector<BatchPage> pages;
    int status = kExitOk;
    if (!plan(o, con, pages, status)) return status;
    // A resumed batch goes on from its report; one without a report yet starts afresh.
    std::vector<std::optional<PageReport>> before;
    if (o.resume)
        if (std::ifstream report(o.report); report) before = writtenBefore(pages, report);
    Ledger ledger(o, con, std::move(pages), std::move(before));
    if (!ledger.openReport()) return kExitWriteFailed;
    std::size_t toDo = 0;
    for (std::size_t i = 0; i < ledger.pages().size(); ++i) toDo += !ledger.writtenBefore(i);
    const int cores = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    const int wanted = std::min<long>(o.jobs > 0 ? o.jobs : cores, static_cast<long>(toDo));
    if (engines.remote) engines.remote(ledger);
    // A batch's engines are workers, one too: a web process that dies as it starts takes
    // the engine's process down with it, and a worker's end is its page's failure alone.
    else if (!o.list.empty() && wanted >= 1 && !engines.worker.empty())
        photographWithWorkers(o, ledger, engines.worker, wanted, interrupted);
    else
        photographAll(o, engines.local(), ledger, interrupted);
    return ledger.end(interrupted);
}

int run(const Options& o, engine::IShotEngine& engine, Console con, const std::atomic<bool>& interrupted) {
    return run(o, Engines{[&]() -> engine::IShotEngine& { return engine; }, {}, {}}, con, interrupted);
}

}  // namespace shot
