#include "shot/Options.h"

#include <getopt.h>
#include <glib.h>

#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "engine/Addresses.h"
#include "shot/Messages.h"
#include "shot/OptionFit.h"

namespace shot {

namespace {

enum LongOnly { kWarmUp = 1000, kNoWarmUp, kReport, kList, kOutDir, kQuality, kFormat, kWait, kTimeout, kScale, kAnimations,
                kServe, kListen, kJobs, kQueue, kTokenFile, kAllowFile, kWorker, kHide, kRemove, kStyle, kScript,
                kWaitFor, kSelector, kClip, kViewport, kExpand, kNoExpand, kUserAgent, kHeader, kCookie, kCookies,
                kUser, kColorScheme, kTransparent, kMaxTimeout, kMaxMemory, kAllowPrivate,
                kDenyPrivate, kAllowHost, kPaper, kLandscape, kMargin, kBackgrounds, kNoBackgrounds, kKeepEngine, kWarmEngine };

enum BatchOnly { kResume = 1500, kIndex, kService, kMaxConnections, kClientTimeout };

const option kLong[] = {
    {"width", required_argument, nullptr, 'w'},     {"height", required_argument, nullptr, 'h'},
    {"scale", required_argument, nullptr, kScale},  {"wait", required_argument, nullptr, kWait},
    {"timeout", required_argument, nullptr, kTimeout}, {"warm-up", no_argument, nullptr, kWarmUp},
    {"no-warm-up", no_argument, nullptr, kNoWarmUp}, {"quiet", no_argument, nullptr, 'q'},
    {"report", required_argument, nullptr, kReport}, {"list", required_argument, nullptr, kList},
    {"out-dir", required_argument, nullptr, kOutDir}, {"quality", required_argument, nullptr, kQuality},
    {"format", required_argument, nullptr, kFormat}, {"help", no_argument, nullptr, 'H'},
    {"version", no_argument, nullptr, 'V'},         {"animations", required_argument, nullptr, kAnimations},
    {"serve", no_argument, nullptr, kServe},         {"listen", required_argument, nullptr, kListen},
    {"jobs", required_argument, nullptr, kJobs},     {"queue", required_argument, nullptr, kQueue},
    {"token-file", required_argument, nullptr, kTokenFile}, {"allow-file", no_argument, nullptr, kAllowFile},
    {"worker", no_argument, nullptr, kWorker}, {"hide", required_argument, nullptr, kHide},
    {"remove", required_argument, nullptr, kRemove}, {"style", required_argument, nullptr, kStyle},
    {"script", required_argument, nullptr, kScript}, {"wait-for", required_argument, nullptr, kWaitFor},
    {"selector", required_argument, nullptr, kSelector}, {"clip", required_argument, nullptr, kClip},
    {"viewport", no_argument, nullptr, kViewport},   {"expand", no_argument, nullptr, kExpand},
    {"no-expand", no_argument, nullptr, kNoExpand},  {"user-agent", required_argument, nullptr, kUserAgent},
    {"header", required_argument, nullptr, kHeader}, {"cookie", required_argument, nullptr, kCookie},
    {"cookies", required_argument, nullptr, kCookies}, {"user", required_argument, nullptr, kUser},
    {"color-scheme", required_argument, nullptr, kColorScheme}, {"transparent", no_argument, nullptr, kTransparent},
    {"max-timeout", required_argument, nullptr, kMaxTimeout}, {"max-memory", required_argument, nullptr, kMaxMemory},
    {"allow-private", no_argument, nullptr, kAllowPrivate},
    {"service", required_argument, nullptr, kService},
    {"max-connections", required_argument, nullptr, kMaxConnections},
    {"client-timeout", required_argument, nullptr, kClientTimeout},
    {"deny-private", no_argument, nullptr, kDenyPrivate}, {"allow-host", required_argument, nullptr, kAllowHost},
    {"paper", required_argument, nullptr, kPaper}, {"landscape", no_argument, nullptr, kLandscape},
    {"margin", required_argument, nullptr, kMargin}, {"backgrounds", no_argument, nullptr, kBackgrounds},
    {"no-backgrounds", no_argument, nullptr, kNoBackgrounds},
    {"resume", no_argument, nullptr, kResume}, {"index", no_argument, nullptr, kIndex},
    {"keep-engine", required_argument, nullptr, kKeepEngine}, {"warm-engine", required_argument, nullptr, kWarmEngine},
    {"verbose", no_argument, nullptr, 'v'},
    {nullptr, 0, nullptr, 0},
};

bool number(const char* text, int lo, int hi, int& out) {
    errno = 0;
    char* end = nullptr;
    const long v = std::strtol(text, &end, 10);
    if (errno || end == text || *end || v < lo || v > hi) return false;
    out = static_cast<int>(v);
    return true;
}

// An option that takes one of two words: `second` tells which; false for another word.
bool either(const std::string& arg, const char* first, const char* second, bool& isSecond) {
    if (arg != first && arg != second) return false;
    isSecond = arg == second;
    return true;
}

// A text given as it is, or as @FILE: the file's content (only where files may be read).
bool textOrFile(const char* arg, std::string& out, bool readFiles) {
    if (arg[0] != '@' || !readFiles) {
        out = arg;
        return true;
    }
    std::ifstream in(arg + 1, std::ios::binary);
    if (!in) return false;
    out.assign(std::istreambuf_iterator<char>(in), {});
    return true;
}

bool clipOf(const char* arg, std::array<double, 4>& c) {
    // Numbers with a decimal point, whatever the locale's decimal mark.
    const char *at = arg, *end = arg + std::strlen(arg);
    for (std::size_t i = 0; i < c.size(); ++i) {
        if (i > 0 && (at == end || *at++ != ',')) return false;
        const auto [next, error] = std::from_chars(at, end, c[i]);
        if (error != std::errc() || next == at) return false;
        at = next;
    }
    return at == end && c[0] >= 0 && c[1] >= 0 && c[2] > 0 && c[3] > 0 && c[0] + c[2] <= 1e6 && c[1] + c[3] <= 1e7;
}

}  // namespace

std::vector<OptionName> optionTable() {
    std::vector<OptionName> names;
    for (const option* o = kLong; o->name; ++o)
        names.push_back({o->name, o->has_arg == required_argument,
                         o->val == kHide || o->val == kRemove || o->val == kHeader || o->val == kCookie ||
                             o->val == kAllowHost});
    return names;
}

Parsed parseOptions(const std::vector<std::string>& args, bool readFiles) {
    std::vector<char*> argv;
    std::vector<std::string> copy = args;
    for (auto& a : copy) argv.push_back(a.data());
    argv.push_back(nullptr);
    Options o;
    auto bad = [](const std::string& why) { return Parsed{std::nullopt, why}; };
    optind = 0;  // restart getopt, also for a second parse in one process
    opterr = 0;
    int c;
    int at = -1;
    while ((c = getopt_long(static_cast<int>(copy.size()), argv.data(), "+:w:h:qv", kLong, &at)) != -1) {
        const char* arg = optarg;
        switch (c) {
            case 'w':
                if (!number(arg, 16, 32767, o.width)) return bad(format(tr("--width takes a number of pixels from 16 to 32767, not '%s'"), arg));
                break;
            case 'h':
                if (!number(arg, 16, 32767, o.height)) return bad(format(tr("--height takes a number of pixels from 16 to 32767, not '%s'"), arg));
                break;
            case kScale:
                if (!number(arg, 1, 2, o.scale)) return bad(format(tr("--scale takes 1 or 2, not '%s'"), arg));
                break;
            case kWait:
                if (!number(arg, 0, 600000, o.waitMs)) return bad(format(tr("--wait takes milliseconds from 0 to 600000, not '%s'"), arg));
                break;
            case kTimeout:
                if (!number(arg, 1, 3600, o.timeoutS)) return bad(format(tr("--timeout takes seconds from 1 to 3600, not '%s'"), arg));
                break;
            case kQuality:
                if (!number(arg, 1, 100, o.quality)) return bad(format(tr("--quality takes a number from 1 to 100, not '%s'"), arg));
                o.qualityGiven = true;
                break;
            case kFormat: {
                const auto f = capture::formatForName(std::string("x.") + arg);
                if (!f) return bad(format(tr("--format takes png, jpg, bmp, webp or pdf, not '%s'"), arg));
                o.batchFormat = *f;
                break;
            }
            case kAnimations:
                if (!either(arg, "rest", "run", o.animations))
                    return bad(format(tr("--animations takes rest or run, not '%s'"), arg));
                break;
            case kServe: o.serve = true; break;
            case kListen: o.listen = arg; break;
            case kJobs:
                if (!number(arg, 1, 64, o.jobs)) return bad(format(tr("--jobs takes a number from 1 to 64, not '%s'"), arg));
                break;
            case kQueue:
                if (!number(arg, 0, 100000, o.queue)) return bad(format(tr("--queue takes a number from 0 to 100000, not '%s'"), arg));
                break;
            case kTokenFile: o.tokenFile = arg; break;
            case kAllowFile: o.allowFile = true; break;
            case kWorker: o.worker = true; break;
            case kKeepEngine:
                if (!number(arg, 0, 86400, o.keepEngineS))
                    return bad(format(tr("--keep-engine takes seconds from 0 to 86400, not '%s'"), arg));
                break;
            case kWarmEngine: o.warmEngine = arg; break;
            case 'v': o.verbose = true; break;
            case kMaxTimeout:
                if (!number(arg, 1, 3600, o.maxTimeoutS)) return bad(format(tr("--max-timeout takes seconds from 1 to 3600, not '%s'"), arg));
                break;
            case kMaxMemory:
                if (!number(arg, 64, 1 << 20, o.maxMemoryMB)) return bad(format(tr("--max-memory takes megabytes from 64 to 1048576, not '%s'"), arg));
                break;
            case kAllowPrivate: o.allowPrivate = true; break;
            case kDenyPrivate: o.denyPrivate = true; break;
            case kAllowHost:
                if (!engine::validAllowEntry(arg)) return bad(format(tr("--allow-host takes HOST or HOST:PORT, not '%s'"), arg));
                o.allowHosts.push_back(arg);
                break;
            case kHide: o.hide.push_back(arg); break;
            case kRemove: o.remove.push_back(arg); break;
            case kStyle:
            case kScript:
                if (!textOrFile(arg, c == kStyle ? o.style : o.script, readFiles))
                    return bad(format(tr("cannot read '%s': %s"), arg + 1, std::strerror(errno)));
                break;
            case kWaitFor: o.waitFor = arg; break;
            case kSelector: o.selector = arg; break;
            case kClip: {
                std::array<double, 4> clip{};
                if (!clipOf(arg, clip)) return bad(format(tr("--clip takes X,Y,WIDTH,HEIGHT in CSS pixels, not '%s'"), arg));
                o.clip = clip;
                break;
            }
            case kViewport: o.viewport = true; break;
            case kExpand: o.expand = true; break;
            case kNoExpand: o.expand = false; break;
            case kUserAgent: o.userAgent = arg; break;
            case kHeader: {
                const std::string h = arg;
                const auto colon = h.find(':');
                if (colon == 0 || colon == std::string::npos ||
                    h.find_first_of(" \t\r\n", 0) < colon || h.find_first_of("\r\n") != std::string::npos)
                    return bad(format(tr("--header takes 'Name: value', not '%s'"), arg));
                o.headers.push_back(h);
                break;
            }
            case kCookie:
                if (!std::strchr(arg, '=') || arg[0] == '=' || std::strpbrk(arg, ";\r\n"))
                    return bad(format(tr("--cookie takes name=value, not '%s'"), arg));
                o.cookies.push_back(arg);
                break;
            case kCookies: {
                std::ifstream in(arg);
                if (!in) return bad(format(tr("cannot read '%s': %s"), arg, std::strerror(errno)));
                const auto jar = readCookieFile(in);
                if (!jar) return bad(format(tr("'%s' is not a cookies.txt file"), arg));
                o.jar.insert(o.jar.end(), jar->begin(), jar->end());
                break;
            }
            case kUser:
                if (!std::strchr(arg, ':')) return bad(format(tr("--user takes NAME:PASSWORD, not '%s'"), arg));
                o.user = arg;
                break;
            case kColorScheme:
                if (!either(arg, "light", "dark", o.dark))
                    return bad(format(tr("--color-scheme takes light or dark, not '%s'"), arg));
                break;
            case kTransparent: o.transparent = true; break;
            case kPaper:
                if (!(o.paper = paperNamed(arg)))
                    return bad(format(tr("--paper takes A4, A3, A5, Letter, Legal, Tabloid, page or WIDTHxHEIGHT "
                                         "(mm, cm or in, from 1 in to 200 in), not '%s'"), arg));
                break;
            case kLandscape: o.landscape = true; break;
            case kMargin:
                if (!(o.margins = marginsOf(arg)))
                    return bad(format(tr("--margin takes TOP[,RIGHT,BOTTOM,LEFT] in mm, cm or in, not '%s'"), arg));
                break;
            case kBackgrounds:
            case kNoBackgrounds: o.backgrounds = c == kBackgrounds; break;
            case kWarmUp: o.warmUp = true; break;
            case kNoWarmUp: o.warmUp = false; break;
            case 'q': o.quiet = true; break;
            case kReport: o.report = arg; break;
            case kResume: o.resume = true; break;
            case kIndex: o.index = true; break;
            case kMaxConnections:
                if (!number(arg, 1, 100000, o.maxConnections)) return bad(format(tr("--max-connections takes a number from 1 to 100000, not '%s'"), arg));
                break;
            case kClientTimeout:
                if (!number(arg, 1, 3600, o.clientTimeoutS)) return bad(format(tr("--client-timeout takes seconds from 1 to 3600, not '%s'"), arg));
                break;
            case kService:
                if (!g_str_has_prefix(arg, "http://") && !g_str_has_prefix(arg, "https://"))
                    return bad(format(tr("--service takes the address of a capture service (http://HOST:PORT), not '%s'"), arg));
                o.service = arg;
                break;
            case kList: o.list = arg; break;
            case kOutDir: o.outDir = arg; break;
            case 'H': o.help = true; return {o, {}};
            case 'V': o.version = true; return {o, {}};
            case ':':
                return bad(format(tr("option '%s' needs a value"), copy[static_cast<std::size_t>(optind - 1)].c_str()));
            default:
                return bad(format(tr("unknown option '%s'"), copy[static_cast<std::size_t>(optind - 1)].c_str()));
        }
        // As given, for a service to read again (a text read from a file as its text).
        const std::string name = at >= 0 ? kLong[at].name : c == 'w' ? "width" : c == 'h' ? "height" : c == 'v' ? "verbose" : "quiet";
        o.given.emplace_back(name, c == kStyle ? o.style : c == kScript ? o.script : arg ? arg : "");
        at = -1;
    }
    const std::vector<std::string> rest(copy.begin() + optind, copy.end());
    if (auto problem = settleOptions(o, rest); !problem.empty()) return bad(problem);
    return {o, {}};
}

}  // namespace shot
