#include "shot/Run.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <set>
#include <vector>

#include "capture/ImageFiles.h"
#include "shot/Batch.h"
#include "shot/Messages.h"

namespace shot {

namespace {

struct Job {
    std::string address, path;
    capture::Format format;
};

std::string jsonString(const std::string& s) {
    std::string out = "\"";
    for (unsigned char c : s) {
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (c < 0x20) out += format("\\u%04x", c);
                else out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

// Whether files can be made in a folder: tried, since permissions do not tell all
// (read-only mounts, and root, who passes every permission test).
std::string folderProblem(const std::string& dir) {
    struct stat st{};
    if (::stat(dir.c_str(), &st) != 0) return std::strerror(errno);
    if (!S_ISDIR(st.st_mode)) return std::strerror(ENOTDIR);
    std::string probe = dir + "/.vemo-shot.XXXXXX";
    const int fd = ::mkstemp(probe.data());
    if (fd < 0) return std::strerror(errno);
    ::close(fd);
    ::unlink(probe.c_str());
    return {};
}

class Progress {
public:
    Progress(Console c, bool quiet, std::size_t total) : c_(c), quiet_(quiet), total_(total) {}
    void show(std::size_t done, const std::string& address, double seconds) {
        if (!c_.live || quiet_) return;
        std::string shown = address.size() > 60 ? address.substr(0, 57) + "..." : address;
        c_.err << "\r\033[K" << format("[%zu/%zu] %5.1f s  %s", done, total_, seconds, shown.c_str()) << std::flush;
        shown_ = true;
    }
    void clear() {
        if (shown_) c_.err << "\r\033[K" << std::flush;
        shown_ = false;
    }

private:
    Console c_;
    bool quiet_;
    std::size_t total_;
    bool shown_ = false;
};

}  // namespace

const char* statusName(Status s) {
    switch (s) {
        case Status::Ok: return "ok";
        case Status::LoadFailed: return "load-failed";
        case Status::TimedOut: return "timed-out";
        case Status::TooLarge: return "too-large";
        case Status::WriteFailed: return "write-failed";
        case Status::Interrupted: return "interrupted";
    }
    return "";
}

Exit exitFor(Status s) {
    switch (s) {
        case Status::Ok: return kExitOk;
        case Status::LoadFailed: return kExitLoadFailed;
        case Status::TimedOut: return kExitTimedOut;
        case Status::TooLarge: return kExitTooLarge;
        case Status::WriteFailed: return kExitWriteFailed;
        case Status::Interrupted: return kExitInterrupted;
    }
    return kExitUsage;
}

std::string reportLine(const std::string& address, const std::string& file, int width, int height, long ms,
                       Status status, const std::string& message) {
    return "{\"address\":" + jsonString(address) + ",\"file\":" + jsonString(file) + ",\"width\":" + std::to_string(width) +
           ",\"height\":" + std::to_string(height) + ",\"milliseconds\":" + std::to_string(ms) + ",\"status\":" +
           jsonString(statusName(status)) + ",\"message\":" + jsonString(message) + "}";
}

int run(const Options& o, IPageEngine& engine, Console con, const std::atomic<bool>& interrupted) {
    const bool batch = !o.list.empty();
    std::vector<Job> jobs;
    if (batch) {
        std::vector<std::string> addresses;
        if (o.list == "-") {
            addresses = readList(std::cin);
        } else {
            std::ifstream in(o.list);
            if (!in) {
                con.err << format(tr("vemo-shot: cannot read the list '%s': %s\n"), o.list.c_str(), std::strerror(errno));
                return kExitUsage;
            }
            addresses = readList(in);
        }
        if (const auto problem = folderProblem(o.outDir); !problem.empty()) {
            con.err << format(tr("vemo-shot: cannot write into '%s': %s\n"), o.outDir.c_str(), problem.c_str());
            return kExitWriteFailed;
        }
        std::set<std::string> taken;
        for (const auto& a : addresses)
            jobs.push_back({a, o.outDir + "/" + fileNameFor(a, capture::formatExtension(o.batchFormat), taken), o.batchFormat});
    } else {
        jobs.push_back({o.address, o.out, *capture::formatForName(o.out)});
    }

    std::ofstream report;
    if (!o.report.empty()) {
        report.open(o.report, std::ios::trunc);
        if (!report) {
            con.err << format(tr("vemo-shot: cannot write the report '%s': %s\n"), o.report.c_str(), std::strerror(errno));
            return kExitWriteFailed;
        }
    }

    Progress progress(con, o.quiet, jobs.size());
    const auto started = std::chrono::steady_clock::now();
    auto elapsed = [&] { return std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count(); };
    std::size_t written = 0, failed = 0;
    Status last = Status::Ok;
    for (std::size_t i = 0; i < jobs.size() && !interrupted; ++i) {
        const auto& job = jobs[i];
        progress.show(i, job.address, elapsed());
        const auto t0 = std::chrono::steady_clock::now();
        PageRequest request{job.address, o.width, o.height, o.scale, o.waitMs, o.timeoutS * 1000, o.warmUp};
        PageShot shot = engine.photograph(request);
        int width = shot.image ? shot.image->width() : 0, height = shot.image ? shot.image->height() : 0;
        if (shot.status == Status::Ok) {
            if (const auto limit = capture::formatRefuses(job.format, width, height)) {
                shot.status = Status::TooLarge;
                shot.message = format(tr("the picture is %d x %d px, and %s holds at most %s: write it as %s instead"),
                                      width, height, capture::formatName(job.format), limit->limit.c_str(),
                                      capture::formatName(limit->instead));
            } else if (const auto error = capture::writeImageFile(*shot.image, job.path, job.format, {o.quality})) {
                shot.status = Status::WriteFailed;
                shot.message = error.message();
            }
        }
        shot.image.reset();  // the picture's memory goes before the next page's
        const long ms = static_cast<long>(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
        if (report) report << reportLine(job.address, shot.status == Status::Ok ? job.path : "", width, height, ms,
                                         shot.status, shot.message) << '\n' << std::flush;
        last = shot.status;
        if (shot.status == Status::Ok) {
            ++written;
        } else {
            ++failed;
            progress.clear();
            con.err << format(tr("vemo-shot: %s: %s (%s)\n"), job.address.c_str(), shot.message.c_str(),
                              statusName(shot.status));
        }
    }
    progress.clear();
    if (interrupted) last = Status::Interrupted;
    if (batch || interrupted)
        con.err << format(tr("vemo-shot: %zu of %zu pages written, %zu failed, in %.1f s%s\n"), written, jobs.size(),
                          failed, elapsed(), interrupted ? tr(" (interrupted)") : "");
    if (interrupted) return kExitInterrupted;
    if (!batch) return exitFor(last);
    return failed ? kExitSomeFailed : kExitOk;
}

}  // namespace shot
