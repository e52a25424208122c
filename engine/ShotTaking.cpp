// The engine's picture: the settled page adjusted as asked, measured, painted whole,
// and put back as it was.
#include <algorithm>
#include <cmath>

#include "engine/Adjusting.h"
#include "engine/PagePainter.h"
#include "engine/ShotEngine.h"

namespace engine {

ShotResult ShotEngine::take(const ShotRequest& r, const Round& round, gint64 deadline, bool& changed) {
    using O = ShotResult::Outcome;
    const auto& nav = page_->navigation();
    const unsigned long mark = nav.changes();
    PagePainter painter(page_->view(), &interrupted_);
    const auto adjusted = adjust(page_->view(), r.adjust, std::max(1, remainingMs(deadline)), &interrupted_);
    if (interrupted_) return hung();
    changed = nav.changes() != mark;
    if (changed) return {};
    if (adjusted.problem == Adjusted::Problem::NotAnswered) return hung();
    if (adjusted.problem != Adjusted::Problem::None) {
        auto res = outcome(O::Unadjusted);
        res.adjusted = adjusted;
        return res;
    }
    // A page the engine painted less of than was measured, or that was shorter once painted,
    // changed after it was measured: it is measured and painted again, once.
    PaintResult painted;
    for (int attempt = 0; attempt < 2 && (attempt == 0 || (painted.image && painted.pageHeight > 0)); ++attempt) {
        bool timedOut = false;
        const auto metrics = painter.measure(std::max(1, remainingMs(deadline)), &timedOut);
        if (timedOut || interrupted_) return hung();
        changed = nav.changes() != mark;
        if (changed) return {};
        if (!metrics) {
            auto res = outcome(O::PaintFailed);
            res.engineWords = painter.lastError();
            return res;
        }
        if (r.picture.format == capture::Format::Pdf) return print(r, round.incomplete, round.ready, adjusted, deadline, changed);
        const auto size = capture::pageSize(*metrics);
        const long width = std::lround(size.width) * r.scale, height = std::lround(size.height) * r.scale;
        if (const auto limit = capture::holdLimit(static_cast<double>(width), static_cast<double>(height),
                                                  capture::availableMemory())) {
            auto res = outcome(O::TooLarge);
            res.width = width;
            res.height = height;
            res.limit = limit;
            return res;
        }
        painted = painter.paint(static_cast<int>(std::lround(size.width)), static_cast<int>(std::lround(size.height)),
                                r.transparent ? 0 : 0xFFFFFF, std::max(1, remainingMs(deadline)), 0, r.scale, r.transparent);
        if (painted.timedOut || interrupted_) return hung();
    }
    // The page as it was: a view that goes on showing it (and the next photo) finds it unchanged.
    if (adjusted.reshaped || !r.adjust.hide.empty() || !r.adjust.remove.empty() || !r.adjust.style.empty())
        putBack(page_->view(), std::max(1, remainingMs(deadline)), &interrupted_);
    changed = nav.changes() != mark;
    if (changed) return {};
    if (!painted.image) {
        auto res = outcome(O::PaintFailed);
        res.engineWords = painted.error;
        return res;
    }
    // A page still loading, one that kept growing as it was scrolled, or one the engine painted
    // less of than was measured, is written as it stood.
    auto res = outcome(round.incomplete || round.ready.stillGrowing || painted.pageHeight > 0 ? O::Incomplete : O::Ok);
    res.adjusted = adjusted;
    res.image = painted.image;
    res.stillOpening = round.incomplete;
    if (painted.pageHeight > 0) {
        res.paintedShort = {painted.image->width(), painted.image->height(), painted.pageWidth, painted.pageHeight};
    }
    if (adjusted.part) {
        // The part asked for, cut from the whole page's picture without a copy.
        const auto& p = *adjusted.part;
        res.image = capture::crop(*painted.image, static_cast<int>(p[0] * r.scale), static_cast<int>(p[1] * r.scale),
                                  static_cast<int>(p[2] * r.scale), static_cast<int>(p[3] * r.scale));
        if (!res.image) {
            res = outcome(O::Unadjusted);
            res.adjusted = adjusted;
            res.adjusted.problem = Adjusted::Problem::OutsidePage;
            return res;
        }
    }
    res.width = res.image->width();
    res.height = res.image->height();
    res.stillGrowing = round.ready.stillGrowing;
    res.stillLoading = round.ready.stillLoading;
    res.firstMissing = round.ready.firstMissing;
    return res;
}

}  // namespace engine
