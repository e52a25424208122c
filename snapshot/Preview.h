// Panning the snapshot inside its viewport with the two scroll bars.
#pragma once

#include <optional>

#include "platform/Ui.h"

namespace snapshot {

// A scroll bar's range for a picture that overhangs its viewport by `range` pixels:
// one pixel a unit while the range fits the bar's 16-bit value; beyond that the
// smallest whole unit that brings it within, with the picture's last rows (past the
// box's border) reachable at Max. Empty for a range no bar can hold.
struct ScrollScale {
    int max = 0;
    int unit = 1;
};
std::optional<ScrollScale> scrollScale(long range, int border);

// Keeps Picture1 at (-HScroll1.Value * unit, -VScroll1.Value * unit) inside Picture2:
// every change of a bar's value, while a thumb is dragged too, moves the picture on
// its axis. The mouse wheel over the preview moves an enabled bar.
class Preview {
public:
    static constexpr int kWheelStep = 60;  // pixels a notch

    // `arrowStep`: the pixels an arrow moves the picture.
    Preview(platform::IWindow& main, int arrowStep);

    // Sets a bar's unit; wheel and arrows keep moving the picture by the same distances.
    void setUnits(int horizontal, int vertical);
    int horizontalUnit() const { return unitX_; }
    int verticalUnit() const { return unitY_; }

private:
    void horizontalMove();
    void verticalMove();
    void wheel(int dx, int dy);

    platform::IPictureBox& picture1_;
    platform::IScrollBar& hscroll_;
    platform::IScrollBar& vscroll_;
    int arrowStep_;
    int unitX_ = 1, unitY_ = 1;
};

}  // namespace snapshot
