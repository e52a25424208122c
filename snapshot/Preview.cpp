#include "snapshot/Preview.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

#include "snapshot/PageCapture.h"

namespace snapshot {

namespace {
constexpr long kLargestValue = std::numeric_limits<std::int16_t>::max();

int stepsFor(int pixels, int unit) { return std::max(1, static_cast<int>(std::lround(static_cast<double>(pixels) / unit))); }
}  // namespace

std::optional<ScrollScale> scrollScale(long range, int border) {
    if (range <= kLargestValue) {
        std::int16_t max = 0;
        if (!toInt16(static_cast<double>(range), max)) return std::nullopt;
        return ScrollScale{max, 1};
    }
    // Picture1's offset applies to its outer edge: the border's rows must be passed too.
    const long reach = range + std::max(0, border);
    const long unit = (reach + kLargestValue - 1) / kLargestValue;
    return ScrollScale{static_cast<int>((reach + unit - 1) / unit), static_cast<int>(unit)};
}

Preview::Preview(platform::IWindow& main, int arrowStep)
    : picture1_(main.pictureBox("Picture1")),
      hscroll_(main.scrollBar("HScroll1")),
      vscroll_(main.scrollBar("VScroll1")),
      arrowStep_(arrowStep) {
    hscroll_.onChange([this] { horizontalMove(); });
    vscroll_.onChange([this] { verticalMove(); });
    auto wheel = [this](int dx, int dy) { this->wheel(dx, dy); };
    main.pictureBox("Picture1").onWheel(wheel);
    main.pictureBox("Picture2").onWheel(wheel);
}

void Preview::setUnits(int horizontal, int vertical) {
    const int oldX = unitX_, oldY = unitY_;
    unitX_ = std::max(1, horizontal);
    unitY_ = std::max(1, vertical);
    hscroll_.setSmallChange(stepsFor(arrowStep_, unitX_));
    vscroll_.setSmallChange(stepsFor(arrowStep_, unitY_));
    // The same value now means another offset.
    if (unitX_ != oldX) horizontalMove();
    if (unitY_ != oldY) verticalMove();
}

void Preview::wheel(int dx, int dy) {
    // The bar brings the value back into its range and reports the change.
    if (dy && vscroll_.enabled()) vscroll_.setValue(vscroll_.value() + dy * stepsFor(kWheelStep, unitY_));
    if (dx && hscroll_.enabled()) hscroll_.setValue(hscroll_.value() + dx * stepsFor(kWheelStep, unitX_));
}

void Preview::horizontalMove() {
    if (unitX_ == 1) picture1_.setLeft(-static_cast<std::int16_t>(hscroll_.value()));
    else picture1_.setLeft(-hscroll_.value() * unitX_);
}

void Preview::verticalMove() {
    if (unitY_ == 1) picture1_.setTop(-static_cast<std::int16_t>(vscroll_.value()));
    else picture1_.setTop(-vscroll_.value() * unitY_);
}

}  // namespace snapshot
