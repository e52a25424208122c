#include "service/Request.h"

#include <algorithm>
#include <cctype>

#include "shot/Messages.h"
#include "shot/Options.h"
#include "shot/Run.h"

namespace service {

using shot::format;
using shot::tr;

namespace {

std::string lower(std::string s) {
    for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// Control characters; a style sheet and a script may have lines and tabs.
bool hasControl(const std::string& s, bool text) {
    return std::any_of(s.begin(), s.end(), [text](unsigned char c) {
        return (c < 0x20 && !(text && (c == '\n' || c == '\t' || c == '\r'))) || c == 0x7f;
    });
}

}  // namespace

std::string sentProblem(const shot::Options& o) {
    for (const auto& [name, value] : o.given)
        if (name == "cookies" || name == "deny-private" || name == "allow-host")
            return format(tr("--%s cannot go to a service: its network rules are its operator's, and it reads no file "
                             "of this machine"), name.c_str());
    return {};
}

const std::set<std::string>& commandOnly() {
    static const std::set<std::string> kOnly = {
        // a batch and its files
        "list", "out-dir", "report", "format", "quiet", "resume", "index", "jobs", "service",
        // files of the service's machine
        "cookies",
        // the program itself, and the service's settings
        "help", "version", "serve", "listen", "queue", "token-file", "allow-file", "worker", "max-timeout",
        "max-memory", "allow-private", "deny-private", "allow-host", "max-connections", "client-timeout",
        "keep-engine", "warm-engine", "verbose"};
    return kOnly;
}

RequestRead requestFromFields(const Fields& fields, const Limits& limits) {
    auto refuse = [](std::string why) { return RequestRead{std::nullopt, std::move(why)}; };
    std::map<std::string, shot::OptionName> options;
    for (const auto& o : shot::optionTable()) options[o.name] = o;
    std::vector<std::string> args = {"vemo-shot"};
    std::string url, kind = "png";
    bool timeoutGiven = false;
    std::size_t total = 0;
    for (const auto& [name, values] : fields) {
        for (const auto& value : values) {
            total += name.size() + value.size();
            if (value.size() > kLongestField || total > kLongestRequest)
                return refuse(format(tr("the field '%s' is too long"), name.c_str()));
            if (hasControl(value, name == "style" || name == "script")) return refuse(format(tr("the field '%s' holds control characters"), name.c_str()));
        }
        const auto known = options.find(name);
        const bool served = name == "url" || name == "format" || (known != options.end() && !commandOnly().count(name));
        if (!served) return refuse(format(tr("unknown field '%s'"), name.c_str()));
        if (values.size() != 1 && (known == options.end() || !known->second.repeatable))
            return refuse(format(tr("the field '%s' is given more than once"), name.c_str()));
        if (name == "url") {
            url = values.front();
        } else if (name == "format") {
            kind = lower(values.front());
        } else if (!known->second.takesValue) {
            const auto v = lower(values.front());
            const bool on = v == "1" || v == "true";
            if (!on && v != "0" && v != "false")
                return refuse(format(tr("%s takes true or false, not '%s'"), name.c_str(), values.front().c_str()));
            // A switch turned off is its opposite where the command has one.
            if (on) args.push_back("--" + name);
            else if (options.count("no-" + name)) args.push_back("--no-" + name);
            else if (name.rfind("no-", 0) == 0 && options.count(name.substr(3))) args.push_back("--" + name.substr(3));
        } else {
            timeoutGiven |= name == "timeout";
            for (const auto& value : values) args.push_back("--" + name + "=" + value);
        }
    }
    if (url.empty()) return refuse(tr("give the address of the page: url=..."));
    const auto colon = url.find(':');
    const std::string scheme = colon == std::string::npos ? "" : lower(url.substr(0, colon));
    if (scheme != "http" && scheme != "https" && !(limits.allowFile && scheme == "file"))
        return refuse(format(tr("only http and https addresses are photographed here, not '%s'"), url.c_str()));
    if (kind == "jpeg") kind = "jpg";
    if (kind != "png" && kind != "jpg" && kind != "bmp" && kind != "webp" && kind != "pdf")
        return refuse(format(tr("format takes png, jpg, bmp, webp or pdf, not '%s'"), kind.c_str()));
    // Without one of its own, a request has the command's time limit, or the operator's if shorter.
    if (!timeoutGiven) args.push_back("--timeout=" + std::to_string(std::min(shot::Options{}.timeoutS, limits.maxTimeoutS)));
    args.insert(args.end(), {"--", url, "picture." + kind});
    // A file's content is never read for a caller: style and script are text.
    const auto parsed = shot::parseOptions(args, false);
    if (!parsed.options) return refuse(parsed.error);
    const auto& o = *parsed.options;
    if (o.timeoutS > limits.maxTimeoutS)
        return refuse(format(tr("timeout is at most %d seconds here, not %d"), limits.maxTimeoutS, o.timeoutS));
    return {shot::requestFor(o, o.address), {}};
}

}  // namespace service
