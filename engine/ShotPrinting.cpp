// The engine's PDF: the page, readied and measured as for a picture, printed instead of
// painted.
#include "capture/Strips.h"
#include "engine/Adjusting.h"
#include "engine/Printing.h"
#include "engine/Scripting.h"
#include "engine/ShotEngine.h"

namespace engine {

ShotResult ShotEngine::print(const ShotRequest& r, bool incomplete, const Readiness& ready, const Adjusted& adjusted,
                             gint64 deadline, bool& changed) {
    using O = ShotResult::Outcome;
    const auto& nav = page_->navigation();
    const unsigned long mark = nav.changes();
    const auto printed = printPage(page_->view(), r.print, r.width, std::max(1, remainingMs(deadline)), &interrupted_);
    if (printed.timedOut || interrupted_) return hung();
    // The sections shown for the measurement, and the changes asked for, as they were:
    // unwaited, as the page is laid out for the screen again after its print, while the
    // document is made. Whatever runs in the page next finds them put back.
    sendScript(page_->view(), capture::stripsEndScript(), World::Engine, nullptr);
    if (adjusted.expanded || !r.adjust.hide.empty() || !r.adjust.remove.empty() || !r.adjust.style.empty())
        sendPutBack(page_->view());
    changed = nav.changes() != mark;
    if (changed) return {};
    ShotResult res;
    if (!printed.out) {
        res.outcome = O::PaintFailed;
        res.engineWords = printed.error;
        return res;
    }
    res.outcome = incomplete || ready.stillGrowing ? O::Incomplete : O::Ok;
    res.adjusted = adjusted;
    res.printed = printed.out;
    res.stillGrowing = ready.stillGrowing;
    res.stillLoading = ready.stillLoading;
    res.firstMissing = ready.firstMissing;
    return res;
}

}  // namespace engine
