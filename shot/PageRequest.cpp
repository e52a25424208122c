// What the options ask of the engine for a page, and what the page's status means for
// the command's exit status: all a command needs that sends its page elsewhere.
#include "capture/ImageFiles.h"
#include "shot/Paper.h"
#include "shot/Run.h"

namespace shot {

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
    r.network = {o.denyPrivate, o.allowHosts};
    // One page's format follows its file's name; a batch's is asked for.
    const auto named = capture::formatForName(o.out);
    r.picture = {named && o.list.empty() ? *named : o.batchFormat, o.quality, o.qualityGiven};
    if (r.picture.format == capture::Format::Pdf) r.print = printLayout(o);
    return r;
}

}  // namespace shot
