#include "shot/Run.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <future>
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
        case Status::Incomplete: return "incomplete";
        case Status::BadRequest: return "bad-request";
        case Status::NoElement: return "no-element";
        case Status::ScriptFailed: return "script-failed";
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
        case Status::Incomplete: return kExitIncomplete;
        case Status::BadRequest: return kExitUsage;
        case Status::NoElement: return kExitNoElement;
        case Status::ScriptFailed: return kExitScriptFailed;
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

engine::ShotRequest requestFor(const Options& o, const std::string& address) {
    engine::ShotRequest r;
    r.address = address;
    r.width = o.width;
    r.height = o.height;
    r.scale = o.scale;
    r.waitMs = o.waitMs;
    r.timeoutMs = o.timeoutS * 1000;
    r.warmUp = o.warmUp;
    r.animations = o.animations;
    auto joined = [](const std::vector<std::string>& list) {
        std::string all;
        for (const auto& s : list) all += (all.empty() ? "" : ", ") + s;
        return all;
    };
    // The first screen is the screen as it is.
    r.adjust = {o.waitFor, joined(o.hide),  joined(o.remove), o.style,   o.script,
                o.expand && !o.viewport, o.selector, o.clip, o.viewport};
    r.dark = o.dark;
    r.transparent = o.transparent;
    r.identity.userAgent = o.userAgent;
    for (const auto& h : o.headers) {
        const auto colon = h.find(':');
        r.identity.headers.emplace_back(h.substr(0, colon), h.substr(h.find_first_not_of(' ', colon + 1) == std::string::npos
                                                                         ? h.size()
                                                                         : h.find_first_not_of(' ', colon + 1)));
    }
    for (const auto& c : o.cookies) {
        const auto eq = c.find('=');
        r.identity.cookies.push_back({c.substr(0, eq), c.substr(eq + 1), {}, "/", false, false, 0});
    }
    r.identity.cookies.insert(r.identity.cookies.end(), o.jar.begin(), o.jar.end());
    if (const auto colon = o.user.find(':'); colon != std::string::npos) {
        r.identity.user = o.user.substr(0, colon);
        r.identity.password = o.user.substr(colon + 1);
    }
    // One page's format follows its file's name; a batch's is asked for.
    const auto named = capture::formatForName(o.out);
    r.picture = {named && o.list.empty() ? *named : o.batchFormat, o.quality, o.qualityGiven};
    return r;
}

int run(const Options& o, engine::IShotEngine& engine, Console con, const std::atomic<bool>& interrupted) {
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
    std::size_t written = 0, failed = 0, incomplete = 0;
    Status last = Status::Ok;

    // A page's outcome, reported once its file is written or it has failed.
    struct Outcome {
        std::size_t job;
        std::chrono::steady_clock::time_point began, ended;
        PageShot shot;
        int width = 0, height = 0;
    };
    auto finish = [&](Outcome& r) {
        const auto& job = jobs[r.job];
        // The page's own time: its capture and its file, not the next page's capture.
        if (r.ended == std::chrono::steady_clock::time_point{}) r.ended = std::chrono::steady_clock::now();
        const long ms = static_cast<long>(std::chrono::duration<double, std::milli>(r.ended - r.began).count());
        const bool wrote = r.shot.status == Status::Ok || r.shot.status == Status::Incomplete;
        if (report) report << reportLine(job.address, wrote ? job.path : "", r.width, r.height, ms,
                                         r.shot.status, r.shot.message) << '\n' << std::flush;
        last = r.shot.status;
        if (wrote) {
            ++written;
            if (r.shot.status == Status::Incomplete) ++incomplete;
            if (!r.shot.message.empty()) {
                progress.clear();
                con.err << format(tr("vemo-shot: %s: %s\n"), job.address.c_str(), r.shot.message.c_str());
            }
            return;
        }
        ++failed;
        progress.clear();
        con.err << format(tr("vemo-shot: %s: %s (%s)\n"), job.address.c_str(), r.shot.message.c_str(),
                          statusName(r.shot.status));
    };
    // Each picture is written while the engine takes the next page.
    std::future<Outcome> writing;
    auto settle = [&] {
        if (!writing.valid()) return;
        auto done = writing.get();
        finish(done);
    };

    for (std::size_t i = 0; i < jobs.size() && !interrupted; ++i) {
        const auto& job = jobs[i];
        progress.show(i, job.address, elapsed());
        Outcome r{i, std::chrono::steady_clock::now(), {}, {}, 0, 0};
        r.shot = describe(engine.photograph(requestFor(o, job.address)));
        r.width = r.shot.image ? r.shot.image->width() : 0;
        r.height = r.shot.image ? r.shot.image->height() : 0;
        settle();
        if (r.shot.status == Status::Ok || r.shot.status == Status::Incomplete) {
            if (const auto limit = capture::formatRefuses(job.format, r.width, r.height)) {
                r.shot.status = Status::TooLarge;
                r.shot.message = format(tr("the picture is %d x %d px, and %s holds at most %s: write it as %s instead"),
                                        r.width, r.height, capture::formatName(job.format), limit->limit.c_str(),
                                        capture::formatName(limit->instead));
            } else {
                writing = std::async(std::launch::async, [r = std::move(r), &job, quality = o.quality, lossless = !o.qualityGiven]() mutable {
                    if (const auto error = capture::writeImageFile(*r.shot.image, job.path, job.format, {quality, lossless})) {
                        r.shot.status = Status::WriteFailed;
                        r.shot.message = error.message();
                    }
                    r.shot.image.reset();  // the picture's memory goes as soon as it is written
                    r.ended = std::chrono::steady_clock::now();
                    return std::move(r);
                });
                continue;
            }
        }
        r.shot.image.reset();
        finish(r);
    }
    // A picture under way is finished, also on Ctrl+C: no half-written file is left.
    settle();
    progress.clear();
    if (interrupted) last = Status::Interrupted;
    if (batch || interrupted)
        con.err << format(tr("vemo-shot: %zu of %zu pages written, %zu failed, in %.1f s%s\n"), written, jobs.size(),
                          failed, elapsed(), interrupted ? tr(" (interrupted)") : "");
    if (interrupted) return kExitInterrupted;
    if (!batch) return exitFor(last);
    return failed ? kExitSomeFailed : incomplete ? kExitIncomplete : kExitOk;
}

}  // namespace shot
