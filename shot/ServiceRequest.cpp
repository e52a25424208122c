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
        {"width", "--width"}, {"height", "--height"}, {"scale", "--scale"},     {"wait", "--wait"},
        {"timeout", "--timeout"}, {"quality", "--quality"}, {"animations", "--animations"}};
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
        } else if (name == "warm-up") {
            const auto v = lower(value);
            if (v == "1" || v == "true") args.push_back("--warm-up");
            else if (v == "0" || v == "false") args.push_back("--no-warm-up");
            else return refuse(format(tr("warm-up takes 0 or 1, not '%s'"), value.c_str()));
        } else if (auto o = kOptions.find(name); o != kOptions.end()) {
            args.push_back(o->second + "=" + value);
        } else {
            return refuse(format(tr("unknown field '%s'"), name.c_str()));
        }
    }
    if (url.empty()) return refuse(tr("give the address of the page: url=..."));
    const auto colon = url.find(':');
    const std::string scheme = colon == std::string::npos ? "" : lower(url.substr(0, colon));
    if (scheme != "http" && scheme != "https" && !(allowFile && scheme == "file"))
        return refuse(format(tr("only http and https addresses are photographed here, not '%s'"), url.c_str()));
    if (kind != "png" && kind != "jpg" && kind != "jpeg" && kind != "bmp")
        return refuse(format(tr("format takes png, jpg or bmp, not '%s'"), kind.c_str()));
    args.insert(args.end(), {"--", url, "picture." + kind});
    const auto parsed = parseOptions(args);
    if (!parsed.options) return refuse(parsed.error);
    return {parsed.options, {}};
}

}  // namespace shot
