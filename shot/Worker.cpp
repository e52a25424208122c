#include "shot/Worker.h"

#include <unistd.h>

#include <chrono>
#include <sstream>

#include "capture/ImageFiles.h"
#include "shot/Messages.h"
#include "shot/Options.h"
#include "shot/Run.h"

namespace shot {

namespace {

std::vector<std::string> split(const std::string& line, char by) {
    std::vector<std::string> parts;
    std::string part;
    std::istringstream in(line);
    while (std::getline(in, part, by)) parts.push_back(part);
    if (!line.empty() && line.back() == by) parts.emplace_back();
    return parts;
}

std::string flat(std::string s) {
    for (auto& c : s)
        if (c == '\t' || c == '\n' || c == '\r') c = ' ';
    return s;
}

}  // namespace

std::string requestLine(const std::vector<std::string>& args) {
    std::string line;
    for (const auto& a : args) line += (line.empty() ? "" : "\t") + flat(a);
    return line + "\n";
}

std::string answerLine(const WorkerAnswer& a) {
    return flat(a.status) + "\t" + std::to_string(a.width) + "\t" + std::to_string(a.height) + "\t" +
           std::to_string(a.milliseconds) + "\t" + flat(a.file) + "\t" + flat(a.message) + "\n";
}

bool parseAnswer(const std::string& line, WorkerAnswer& a) {
    const auto f = split(line, '\t');
    if (f.size() != 6) return false;
    try {
        a = {f[0], std::stoi(f[1]), std::stoi(f[2]), std::stol(f[3]), f[4], f[5]};
    } catch (const std::exception&) {
        return false;
    }
    return true;
}

void serveAsWorker(engine::IShotEngine& engine, const std::string& dir, std::istream& in, std::ostream& out,
                   const std::atomic<bool>& interrupted) {
    std::string line;
    for (unsigned long n = 1; !interrupted && std::getline(in, line); ++n) {
        const auto began = std::chrono::steady_clock::now();
        WorkerAnswer a;
        const auto parsed = parseOptions(split(line, '\t'));
        if (!parsed.options || parsed.options->address.empty()) {
            a.status = "usage";
            a.message = parsed.error;
        } else {
            const auto& o = *parsed.options;
            const auto kind = *capture::formatForName(o.out);
            engine.forgetVisits();
            auto shot = describe(engine.photograph(requestFor(o, o.address)));
            a.message = shot.message;
            if (shot.image) {
                a.width = shot.image->width();
                a.height = shot.image->height();
            }
            if (shot.image && (shot.status == Status::Ok || shot.status == Status::Incomplete)) {
                if (const auto limit = capture::formatRefuses(kind, a.width, a.height)) {
                    shot.status = Status::TooLarge;
                    a.message = format(tr("the picture is %d x %d px, and %s holds at most %s: ask for %s instead"),
                                       a.width, a.height, capture::formatName(kind), limit->limit.c_str(),
                                       capture::formatName(limit->instead));
                } else {
                    // Named by the worker and the request: workers share the folder.
                    const std::string file = dir + "/shot-" + std::to_string(::getpid()) + "-" + std::to_string(n) +
                                             capture::formatExtension(kind);
                    if (const auto error = capture::writeImageFile(*shot.image, file, kind, {o.quality, !o.qualityGiven})) {
                        shot.status = Status::WriteFailed;
                        a.message = error.message();
                    } else {
                        a.file = file;
                    }
                }
            }
            a.status = statusName(shot.status);
        }
        a.milliseconds = static_cast<long>(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - began).count());
        out << answerLine(a) << std::flush;
    }
}

}  // namespace shot
