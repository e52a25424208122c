#include "shot/OptionFit.h"

#include <algorithm>
#include <iterator>

#include "capture/ImageFiles.h"
#include "shot/Messages.h"
#include "shot/Options.h"

namespace shot {

namespace {

// The service's own settings: a command or a batch has no use for them.
const char* const kServiceOnly[] = {"listen", "queue", "token-file", "allow-file", "allow-private",
                                    "max-timeout", "max-connections", "client-timeout"};
// What the service itself takes: what a page is photographed with comes with each request.
const char* const kServiceTakes[] = {"serve", "listen", "jobs", "queue", "token-file", "allow-file", "max-timeout",
                                     "max-memory", "allow-private", "deny-private", "allow-host", "max-connections",
                                     "client-timeout"};
// What only one page's command does: the engine it keeps, and saying which engine that is.
const char* const kOnePageOnly[] = {"keep-engine", "verbose"};

std::string transparencyProblem(const Options& o, capture::Format f) {
    if (!o.transparent || capture::formatHasAlpha(f)) return {};
    return format(tr("--transparent needs a format that keeps transparency (PNG or WebP), not %s"), capture::formatName(f));
}

}  // namespace

bool optionGiven(const Options& o, const std::string& name) {
    return std::any_of(o.given.begin(), o.given.end(), [&](const auto& g) { return g.first == name; });
}

std::string settleOptions(Options& o, const std::vector<std::string>& rest) {
    if (int(!o.selector.empty()) + int(o.clip.has_value()) + int(o.viewport) > 1)
        return tr("--selector, --clip and --viewport each name the part to keep: give one");
    // The wait is part of the time limit: one as long leaves the page no time to load.
    if (!o.serve && o.waitMs >= o.timeoutS * 1000)
        return format(tr("wait (%d ms) must be shorter than the time limit (%d s)"), o.waitMs, o.timeoutS);
    if (o.serve || o.worker || !o.warmEngine.empty()) {
        if (!rest.empty() || !o.list.empty()) return tr("the service takes its addresses from its requests");
        if (o.allowPrivate && o.denyPrivate) return tr("--allow-private and --deny-private contradict each other");
        if (o.serve && !o.worker && o.warmEngine.empty())
            for (const auto& [name, value] : o.given)
                if (std::none_of(std::begin(kServiceTakes), std::end(kServiceTakes), [&](const char* t) { return name == t; }))
                    return format(tr("--%s is not the service's to take: a page's options come with each request"),
                                  name.c_str());
        return {};
    }
    for (const char* name : kServiceOnly)
        if (optionGiven(o, name)) return format(tr("--%s goes with the service (--serve)"), name);
    // A batch sent to a service is refused its network rules apart, with the service's reason.
    if (!o.allowHosts.empty() && !o.denyPrivate && o.service.empty())
        return tr("--allow-host goes with --deny-private: without it every address is reached already");
    if (!o.list.empty() || !o.outDir.empty()) {
        if (o.list.empty() || o.outDir.empty()) return tr("--list and --out-dir go together");
        if (o.resume && o.report.empty()) return tr("--resume needs the --report of the batch it goes on from");
        if (!rest.empty()) return tr("a batch takes no URL or OUT of its own");
        for (const char* name : kOnePageOnly)
            if (optionGiven(o, name)) return format(tr("--%s goes with one page (URL OUT), not a batch"), name);
        if (const auto problem = formatProblem(o); !problem.empty()) return problem;
        return transparencyProblem(o, o.batchFormat);
    }
    if (o.resume || o.index) return tr("--resume and --index go with a batch (--list and --out-dir)");
    if (optionGiven(o, "jobs")) return tr("--jobs goes with a batch (--list and --out-dir) or the service (--serve)");
    if (rest.size() != 2) return tr("give an address and a file to write: vemo-shot [OPTIONS] URL OUT");
    o.address = rest[0];
    o.out = rest[1];
    const auto named = capture::formatForName(o.out);
    if (!named)
        return format(tr("'%s' has no picture extension: use .png, .jpg, .jpeg, .bmp or .webp, or .pdf"), o.out.c_str());
    // One page is written in the format its file's name says; --format may only agree.
    if (optionGiven(o, "format") && o.batchFormat != *named)
        return format(tr("--format asks for %s, but '%s' names a %s file: one page is written in the format of its "
                         "file's extension"), capture::formatName(o.batchFormat), o.out.c_str(), capture::formatName(*named));
    if (const auto problem = formatProblem(o); !problem.empty()) return problem;
    return transparencyProblem(o, *named);
}

}  // namespace shot
