#include "snapshot/Preview.h"

#include <cstdint>

namespace snapshot {

Preview::Preview(platform::IWindow& main)
    : picture1_(main.pictureBox("Picture1")), hscroll_(main.scrollBar("HScroll1")), vscroll_(main.scrollBar("VScroll1")) {
    hscroll_.onChange([this] { horizontalMove(); });
    vscroll_.onChange([this] { verticalMove(); });
}

void Preview::horizontalMove() { picture1_.setLeft(-static_cast<std::int16_t>(hscroll_.value())); }

void Preview::verticalMove() { picture1_.setTop(-static_cast<std::int16_t>(vscroll_.value())); }

}  // namespace snapshot
