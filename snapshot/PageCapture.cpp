#include "snapshot/PageCapture.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "capture/PageSize.h"
#include "snapshot/LoadFailure.h"

namespace snapshot {

namespace {
std::string describe(CaptureError::Kind kind) {
    switch (kind) {
        case CaptureError::Kind::NoDocument: return "no page to measure";
        case CaptureError::Kind::StillOpening: return "the page is still opening";
        case CaptureError::Kind::NotOpened: return "the page could not be opened";
        case CaptureError::Kind::NotAnswering: return "the page did not answer";
        case CaptureError::Kind::Crashed: return "the page's process ended";
        case CaptureError::Kind::TooLarge: return "page too large for a picture";
        case CaptureError::Kind::PaintFailed: return "the page could not be painted";
    }
    return {};
}
}  // namespace

CaptureError::CaptureError(Kind kind, double pageWidth, double pageHeight, Limit limit, std::uint64_t bytesNeeded,
                           std::uint64_t bytesAvailable)
    : std::runtime_error(describe(kind)),
      kind_(kind),
      pageWidth_(pageWidth),
      pageHeight_(pageHeight),
      limit_(limit),
      needed_(bytesNeeded),
      available_(bytesAvailable) {}

CaptureError::CaptureError(Kind kind, std::string detail) : CaptureError(kind) { detail_ = std::move(detail); }

long roundHalfEven(double v) {
    // nearbyint follows the current rounding mode, which is to-nearest-even by default.
    return static_cast<long>(std::nearbyint(v));
}

bool toInt16(double v, std::int16_t& out) {
    if (!std::isfinite(v)) return false;
    const double r = std::nearbyint(v);
    if (r < std::numeric_limits<std::int16_t>::min() || r > std::numeric_limits<std::int16_t>::max()) return false;
    out = static_cast<std::int16_t>(r);
    return true;
}

PageCapture::PageCapture(platform::IUi& ui, platform::IWindow& main, Preview& preview)
    : ui_(ui),
      main_(main),
      browser_(main.browser("WebBrowser1")),
      picture1_(main.pictureBox("Picture1")),
      picture2_(main.pictureBox("Picture2")),
      hscroll_(main.scrollBar("HScroll1")),
      vscroll_(main.scrollBar("VScroll1")),
      preview_(preview),
      memory_(capture::availableMemory) {}

void PageCapture::recordParking() {
    const auto screen = ui_.screen();
    browser_.setWidth(screen.widthTwips);
    browser_.setHeight(screen.heightTwips);
    parking_.left = static_cast<std::int32_t>(roundHalfEven(browser_.left()));
    parking_.top = static_cast<std::int32_t>(roundHalfEven(browser_.top()));
    parking_.width = static_cast<std::int32_t>(roundHalfEven(browser_.width()));
    parking_.height = static_cast<std::int32_t>(roundHalfEven(browser_.height()));
}

void PageCapture::checkHoldable(double pageWidth, double pageHeight) {
    // Refused before anything is changed. The last snapshot stays in memory until the
    // new one is painted: what it holds is not counted as free.
    const auto limit = capture::holdLimit(pageWidth, pageHeight, memory_ ? memory_() : std::nullopt);
    if (!limit) return;
    if (limit->kind == capture::HoldLimit::Kind::Width)
        throw CaptureError(CaptureError::Kind::TooLarge, pageWidth, pageHeight, CaptureError::Limit::Width);
    throw CaptureError(CaptureError::Kind::TooLarge, pageWidth, pageHeight, CaptureError::Limit::Memory, limit->needed,
                       limit->available);
}

void PageCapture::setRange(platform::IScrollBar& bar, long range, bool vertical, double pageWidth, double pageHeight) {
    const auto scale = scrollScale(range, picture1_.borderWidth());
    if (!scale) throw CaptureError(CaptureError::Kind::TooLarge, pageWidth, pageHeight, CaptureError::Limit::ScrollRange);
    if (vertical) preview_.setUnits(preview_.horizontalUnit(), scale->unit);
    else preview_.setUnits(scale->unit, preview_.verticalUnit());
    bar.setMax(scale->max);
    if (scale->max > 0) bar.setEnabled(true);
}

void PageCapture::web_Enlarge() {
    const auto body = browser_.measureBody();
    if (!body && browser_.stuck()) throw CaptureError(CaptureError::Kind::NotAnswering);
    if (!body) throw CaptureError(CaptureError::Kind::NoDocument);
    const auto page = capture::pageSize(*body);
    checkHoldable(page.width, page.height);

    const auto screen = ui_.screen();
    browser_.setLeft(0);
    browser_.setTop(0);
    browser_.setWidth(static_cast<float>(screen.twipsPerPixelX * page.width));
    browser_.setHeight(static_cast<float>(screen.twipsPerPixelY * page.height));

    // Back to pixels with the same factor, so the picture is the page on any screen;
    // the border is added around the page, so the drawing area holds all of it.
    const int border = picture1_.borderWidth();
    const long widthPx = roundHalfEven(static_cast<float>(browser_.width() / screen.twipsPerPixelX));
    const long heightPx = roundHalfEven(static_cast<float>(browser_.height() / screen.twipsPerPixelY));
    picture1_.setSize(static_cast<int>(widthPx) + 2 * border, static_cast<int>(heightPx) + 2 * border);
    picture1_.clearPicture();
    picture1_.setAutoRedraw(true);

    setRange(vscroll_, long{picture1_.scaleHeight()} - picture2_.scaleHeight(), true, page.width, page.height);
    setRange(hscroll_, long{picture1_.scaleWidth()} - picture2_.scaleWidth(), false, page.width, page.height);
}

void PageCapture::web_Restore() {
    browser_.setLeft(static_cast<float>(parking_.left));
    browser_.setTop(static_cast<float>(parking_.top));
    browser_.setWidth(static_cast<float>(parking_.width));
    browser_.setHeight(static_cast<float>(parking_.height));
}

void PageCapture::checkNewestPage() const {
    const auto state = browser_.loadState();
    switch (state.kind) {
        case platform::LoadState::Opening: throw CaptureError(CaptureError::Kind::StillOpening);
        case platform::LoadState::Failed: throw CaptureError(CaptureError::Kind::NotOpened, loadFailureText(state.failure));
        case platform::LoadState::Crashed: throw CaptureError(CaptureError::Kind::Crashed);
        case platform::LoadState::Nothing:
        case platform::LoadState::Arrived: break;
    }
}

KeptSnapshot PageCapture::keep() const {
    return {picture1_.width(), picture1_.height(), picture1_.image(), hscroll_.max(), vscroll_.max(),
            preview_.horizontalUnit(), preview_.verticalUnit(), hscroll_.enabled(), vscroll_.enabled()};
}

void PageCapture::putBack(const KeptSnapshot& k) {
    picture1_.setSize(k.width, k.height);
    picture1_.setImage(k.image);
    preview_.setUnits(k.hunit, k.vunit);
    hscroll_.setMax(k.hmax);
    vscroll_.setMax(k.vmax);
    hscroll_.setEnabled(k.henabled);
    vscroll_.setEnabled(k.venabled);
}

void PageCapture::web_Capture() {
    web_Enlarge();
    // The engine's picture becomes Picture1's image as it is. A page that was
    // measured but not painted would leave an empty picture that looks like a
    // snapshot: that is a failure, not a result.
    const auto blank = picture1_.image();
    const auto painted = browser_.paintPage(blank->width(), blank->height(), blank->back());
    ui_.doEvents();
    if (painted) picture1_.setImage(painted);
    picture1_.setVisible(true);
    if (!painted && browser_.stuck()) throw CaptureError(CaptureError::Kind::NotAnswering);
    if (!painted) throw CaptureError(CaptureError::Kind::PaintFailed, browser_.lastFailure());
}

}  // namespace snapshot
