#include "snapshot/Preview.h"

#include <cstdint>

namespace snapshot {

Preview::Preview(platform::IWindow& main)
    : picture1_(main.pictureBox("Picture1")), hscroll_(main.scrollBar("HScroll1")), vscroll_(main.scrollBar("VScroll1")) {
    hscroll_.onChange([this] { horizontalMove(); });
    vscroll_.onChange([this] { verticalMove(); });
    auto wheel = [this](int dx, int dy) { this->wheel(dx, dy); };
    main.pictureBox("Picture1").onWheel(wheel);
    main.pictureBox("Picture2").onWheel(wheel);
}

void Preview::wheel(int dx, int dy) {
    // The bar brings the value back into its range and reports the change.
    if (dy && vscroll_.enabled()) vscroll_.setValue(vscroll_.value() + dy * kWheelStep);
    if (dx && hscroll_.enabled()) hscroll_.setValue(hscroll_.value() + dx * kWheelStep);
}

void Preview::horizontalMove() { picture1_.setLeft(-static_cast<std::int16_t>(hscroll_.value())); }

void Preview::verticalMove() { picture1_.setTop(-static_cast<std::int16_t>(vscroll_.value())); }

}  // namespace snapshot
