// The engine's outcomes in the command's words.
#include "capture/Strips.h"
#include "shot/Messages.h"
#include "shot/Run.h"

namespace shot {

namespace {

// The kind of address the network rules refuse, from the engine's word for it.
std::string kindWords(const std::string& kind) {
    if (kind == "loopback") return tr("a loopback address (this machine)");
    if (kind == "private") return tr("a private network address");
    if (kind == "link-local") return tr("a link-local address");
    if (kind == "shared") return tr("a carrier's shared address");
    if (kind == "multicast") return tr("a multicast address");
    if (kind == "unspecified") return tr("an unspecified address");
    return tr("a reserved address");
}

// Why the page's own address is refused: the engine's detail is "host:port address kind".
std::string refusedAddress(const std::string& detail) {
    const auto first = detail.find(' '), second = detail.rfind(' ');
    if (first == std::string::npos || second == first) return tr("the network rules refuse the page's address");
    const std::string where = detail.substr(0, first), address = detail.substr(first + 1, second - first - 1);
    return format(tr("%s is refused: it leads to %s, %s, and pages may reach public addresses only "
                     "(--allow-host=HOST[:PORT] lets a host through; a service started with --allow-private lets every "
                     "private address through)"),
                  where.c_str(), address.c_str(), kindWords(detail.substr(second + 1)).c_str());
}

std::string whyNotLoaded(const engine::Failure& f) {
    using engine::LoadError;
    switch (f.error) {
        case LoadError::Refused:
            return f.detail.empty() ? tr("the engine refused to load the address")
                                    : format(tr("the engine does not connect to port %s, which is kept for other "
                                                "services"), f.detail.c_str());
        case LoadError::NeverSettles:
            return format(tr("the page kept moving on to other addresses by itself (%s times)"), f.detail.c_str());
        case LoadError::Stopped: return tr("the page did not answer and was stopped");
        case LoadError::Crashed: return tr("the page's web process ended unexpectedly");
        case LoadError::OutOfMemory: return tr("the page took more memory than a page may (--max-memory), and was stopped");
        case LoadError::NeedsLogin: return tr("the page asks for a user name and password (--user)");
        case LoadError::LoginRefused: return tr("the page refused the user name and password given");
        case LoadError::PrivateAddress: return refusedAddress(f.detail);
        default: break;
    }
    return f.detail.empty() ? tr("the page could not be loaded") : f.detail;
}

PageShot whyNotAdjusted(const engine::Adjusted& a) {
    using P = engine::Adjusted::Problem;
    switch (a.problem) {
        case P::BadSelector: return {Status::BadRequest, format(tr("'%s' is not a valid CSS selector"), a.detail.c_str()), nullptr};
        case P::WaitedInVain:
            return {Status::TimedOut, format(tr("no visible element matched '%s' within the time limit"), a.detail.c_str()),
                    nullptr};
        case P::NoElement: return {Status::NoElement, format(tr("no element matches '%s'"), a.detail.c_str()), nullptr};
        case P::OutsidePage: return {Status::NoElement, tr("the part asked for is not wholly on the page"), nullptr};
        case P::ScriptFailed: return {Status::ScriptFailed, format(tr("the script failed: %s"), a.detail.c_str()), nullptr};
        case P::NotAnswered:
        case P::None: break;
    }
    return {Status::TimedOut, tr("the page did not answer in time"), nullptr};
}

}  // namespace

PageShot describe(const engine::ShotResult& r) {
    using O = engine::ShotResult::Outcome;
    switch (r.outcome) {
        case O::Ok:
        case O::Incomplete: {
            PageShot s{r.outcome == O::Ok ? Status::Ok : Status::Incomplete, {}, r.image, r.printed, {}, 0};
            // A page that kept growing is said so below, unless images were missing too.
            // A page only painted short of its measure was not cut off while loading.
            const bool onlyShort = r.paintedShort && !r.stillOpening && r.stillLoading == 0;
            if (r.outcome == O::Incomplete && (!r.stillGrowing || r.stillLoading > 0) && !onlyShort)
                s.message = r.stillLoading > 0
                                ? format(trn("photographed at the time limit while %d image was still loading (%s)",
                                             "photographed at the time limit while %d images were still loading (%s)",
                                             r.stillLoading),
                                         r.stillLoading, r.firstMissing.c_str())
                                : tr("photographed at the time limit while the page was still loading");
            if (r.adjusted.expanded) {
                if (!s.message.empty()) s.message += "; ";
                s.message += tr("the page scrolls inside a box: the box was let out to its whole content "
                                "(--no-expand photographs the screen as it is)");
            }
            if (const auto& p = r.paintedShort) {
                if (!s.message.empty()) s.message += "; ";
                s.message += format(tr("the engine painted %ld x %ld px of the page, which measured %ld x %ld, "
                                       "twice over: the picture holds what was painted"),
                                    (*p)[0], (*p)[1], (*p)[2], (*p)[3]);
            }
            if (r.stillGrowing) {
                if (!s.message.empty()) s.message += "; ";
                s.message += format(tr("the page kept growing as it was scrolled: the picture holds it as far as it "
                                       "grew within the time limit and %d px"),
                                    engine::kGrowUpTo);
            }
            if (r.refused > 0) {
                if (!s.message.empty()) s.message += "; ";
                s.message += format(trn("%d request to an address pages may not reach was refused (the first: %s)",
                                        "%d requests to addresses pages may not reach were refused (the first: %s)", r.refused),
                                    r.refused, r.firstRefused.c_str());
            }
            if (r.loginsSkipped > 0) {
                if (!s.message.empty()) s.message += "; ";
                s.message += format(trn("%d resource was left out, as another site than the page's asked for a login "
                                        "(the first: %s)",
                                        "%d resources were left out, as another site than the page's asked for a login "
                                        "(the first: %s)",
                                        r.loginsSkipped),
                                    r.loginsSkipped, r.firstLoginSkipped.c_str());
            }
            return s;
        }
        case O::LoadFailed: return {Status::LoadFailed, whyNotLoaded(r.failure), nullptr};
        case O::TimedOut: return {Status::TimedOut, tr("the page did not answer in time"), nullptr};
        case O::Changed:
            return {Status::LoadFailed, tr("the page replaced its document while it was photographed, twice"), nullptr};
        case O::Interrupted: return {Status::Interrupted, tr("interrupted"), nullptr};
        case O::PaintFailed:
            return {Status::LoadFailed,
                    r.engineWords.empty() ? tr("the engine could not paint the page") : r.engineWords, nullptr};
        case O::Unadjusted: return whyNotAdjusted(r.adjusted);
        case O::TooLarge: break;
    }
    if (r.limit && r.limit->kind == capture::HoldLimit::Kind::Memory)
        return {Status::TooLarge,
                format(tr("the picture of %ld x %ld px needs %llu MB of memory, and %llu MB are free"), r.width, r.height,
                       static_cast<unsigned long long>(r.limit->needed >> 20),
                       static_cast<unsigned long long>(r.limit->available >> 20)),
                nullptr};
    return {Status::TooLarge,
            format(tr("the page is %ld px wide, and a picture is at most %d px wide"), r.width, capture::kLargestPaint),
            nullptr};
}

}  // namespace shot
