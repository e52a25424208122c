#include "snapshot/PageCapture.h"

#include <algorithm>
#include <cfenv>
#include <cmath>
#include <limits>

namespace snapshot {

namespace {
std::string describe(CaptureError::Kind kind) {
    switch (kind) {
        case CaptureError::Kind::NoDocument: return "no page to measure";
        case CaptureError::Kind::TooLarge: return "page beyond the scroll range";
        case CaptureError::Kind::PaintFailed: return "the page could not be painted";
    }
    return {};
}
}  // namespace

CaptureError::CaptureError(Kind kind, double pageWidth, double pageHeight)
    : std::runtime_error(describe(kind)), kind_(kind), pageWidth_(pageWidth), pageHeight_(pageHeight) {}

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

PageCapture::PageCapture(platform::IUi& ui, platform::IWindow& main)
    : ui_(ui),
      main_(main),
      browser_(main.browser("WebBrowser1")),
      picture1_(main.pictureBox("Picture1")),
      picture2_(main.pictureBox("Picture2")),
      hscroll_(main.scrollBar("HScroll1")),
      vscroll_(main.scrollBar("VScroll1")) {}

void PageCapture::recordParking() {
    const auto screen = ui_.screen();
    browser_.setWidth(screen.widthTwips);
    browser_.setHeight(screen.heightTwips);
    parking_.left = static_cast<std::int32_t>(roundHalfEven(browser_.left()));
    parking_.top = static_cast<std::int32_t>(roundHalfEven(browser_.top()));
    parking_.width = static_cast<std::int32_t>(roundHalfEven(browser_.width()));
    parking_.height = static_cast<std::int32_t>(roundHalfEven(browser_.height()));
}

void PageCapture::web_Enlarge() {
    const auto body = browser_.measureBody();
    if (!body) throw CaptureError(CaptureError::Kind::NoDocument);

    // The body's scroll size and its borders leave out the body's own margins; the
    // root element's scroll size includes them, so the larger of the two is the page.
    const double pageWidth = static_cast<double>(
        std::max(body->scrollWidth + (body->offsetWidth - body->clientWidth), body->rootScrollWidth));
    const double pageHeight = static_cast<double>(
        std::max(body->scrollHeight + (body->offsetHeight - body->clientHeight), body->rootScrollHeight));

    const auto screen = ui_.screen();
    browser_.setLeft(0);
    browser_.setTop(0);
    browser_.setWidth(static_cast<float>(screen.twipsPerPixelX * pageWidth));
    browser_.setHeight(static_cast<float>(screen.twipsPerPixelY * pageHeight));

    // Back to pixels with the same factor, so the picture is the page on any screen;
    // the border is added around the page, so the drawing area holds all of it.
    const int border = picture1_.borderWidth();
    const long widthPx = roundHalfEven(static_cast<float>(browser_.width() / screen.twipsPerPixelX));
    const long heightPx = roundHalfEven(static_cast<float>(browser_.height() / screen.twipsPerPixelY));
    picture1_.setSize(static_cast<int>(widthPx) + 2 * border, static_cast<int>(heightPx) + 2 * border);
    picture1_.clearPicture();
    picture1_.setAutoRedraw(true);

    std::int16_t vmax = 0, hmax = 0;
    if (!toInt16(picture1_.scaleHeight() - picture2_.scaleHeight(), vmax))
        throw CaptureError(CaptureError::Kind::TooLarge, pageWidth, pageHeight);
    vscroll_.setMax(vmax);
    if (vmax > 0) vscroll_.setEnabled(true);

    if (!toInt16(picture1_.scaleWidth() - picture2_.scaleWidth(), hmax))
        throw CaptureError(CaptureError::Kind::TooLarge, pageWidth, pageHeight);
    hscroll_.setMax(hmax);
    if (hmax > 0) hscroll_.setEnabled(true);

    // A picture image stops at 32767 pixels a side, a little short of what the scroll
    // range allows: a page between the two cannot be held either.
    const auto image = picture1_.image();
    if (image.width != picture1_.scaleWidth() || image.height != picture1_.scaleHeight())
        throw CaptureError(CaptureError::Kind::TooLarge, pageWidth, pageHeight);
}

void PageCapture::web_Restore() {
    browser_.setLeft(static_cast<float>(parking_.left));
    browser_.setTop(static_cast<float>(parking_.top));
    browser_.setWidth(static_cast<float>(parking_.width));
    browser_.setHeight(static_cast<float>(parking_.height));
}

void PageCapture::web_Capture() {
    web_Enlarge();
    // A page that was measured but not painted would leave an empty picture that
    // looks like a snapshot: that is a failure, not a result.
    const bool painted = browser_.printPage(picture1_);
    ui_.doEvents();
    picture1_.setVisible(true);
    if (!painted) throw CaptureError(CaptureError::Kind::PaintFailed);
}

}  // namespace snapshot
