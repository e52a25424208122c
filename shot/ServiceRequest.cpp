#include "shot/ServiceRequest.h"

#include <algorithm>
#include <cctype>

#include "shot/Messages.h"

namespace shot {

namespace {

std::string lower(std::string s) {
    for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

bool hasControl(const std::string& s) {
    return std::any_of(s.begin(), s.end(), [](unsigned char c) { return c < 0x20 || c == 0x7f; });
}

}  // namespace

ServiceRequest requestFromFields(const std::map<std::string, std::string>& fields, bool allowFile) {
    auto refuse = [](std::string why) { return ServiceRequest{std::nullopt, std::move(why)}; };
    // The fields the command has options for, and the names of those options.
    static const std::map<std::string, std::string> kOptions = {
        {"width", "--width"},           {"height", "--height"},       {"scale", "--scale"},
        {"wait", "--wait"},             {"timeout", "--timeout"},     {"quality", "--quality"},
        {"animations", "--animations"}, {"selector", "--selector"},   {"clip", "--clip"},
        {"hide", "--hide"},             {"remove", "--remove"},       {"style", "--style"},
        {"script", "--script"},         {"wait-for", "--wait-for"},   {"user-agent", "--user-agent"},
        {"header", "--header"},         {"cookie", "--cookie"},       {"user", "--user"},
        {"color-scheme", "--color-scheme"}};
    // Fields that switch an option on or off.
    static const std::map<std::string, std::pair<std::string, std::string>> kSwitches = {
        {"warm-up", {"--warm-up", "--no-warm-up"}},
        {"expand", {"--expand", "--no-expand"}},
        {"viewport", {"--viewport", ""}},
        {"transparent", {"--transparent", ""}}};
    std::vector<std::string> args = {"vemo-shot"};
    std::string url, kind = "png";
    std::size_t total = 0;
    for (const auto& [name, value] : fields) {
        total += name.size() + value.size();
        if (value.size() > kLongestField || total > kLongestRequest) return refuse(format(tr("the field '%s' is too long"), name.c_str()));
        if (hasControl(value)) return refuse(format(tr("the field '%s' holds control characters"), name.c_str()));
        if (name == "url") {
            url = value;
        } else if (name == "format") {
            kind = lower(value);
        } else if (auto sw = kSwitches.find(name); sw != kSwitches.end()) {
            const auto v = lower(value);
            const bool on = v == "1" || v == "true";
            if (!on && v != "0" && v != "false")
                return refuse(format(tr("%s takes 0 or 1, not '%s'"), name.c_str(), value.c_str()));
            const auto& option = on ? sw->second.first : sw->second.second;
            if (!option.empty()) args.push_back(option);
        } else if (auto o = kOptions.find(name); o != kOptions.end()) {
            // A file's content is never read for a caller: style and script are text.
            if ((name == "style" || name == "script") && !value.empty() && value[0] == '@') args.push_back(o->second + "= " + value);
            else args.push_back(o->second + "=" + value);
        } else {
            return refuse(format(tr("unknown field '%s'"), name.c_str()));
        }
    }
    if (url.empty()) return refuse(tr("give the address of the page: url=..."));
    const auto colon = url.find(':');
    const std::string scheme = colon == std::string::npos ? "" : lower(url.substr(0, colon));
    if (scheme != "http" && scheme != "https" && !(allowFile && scheme == "file"))
        return refuse(format(tr("only http and https addresses are photographed here, not '%s'"), url.c_str()));
    if (kind != "png" && kind != "jpg" && kind != "jpeg" && kind != "bmp" && kind != "webp")
        return refuse(format(tr("format takes png, jpg, bmp or webp, not '%s'"), kind.c_str()));
    args.insert(args.end(), {"--", url, "picture." + kind});
    const auto parsed = parseOptions(args);
    if (!parsed.options) return refuse(parsed.error);
    return {parsed.options, {}};
}

}  // namespace shot
