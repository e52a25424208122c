// Panning the snapshot inside its viewport with the two scroll bars.
#pragma once

#include "platform/Ui.h"

namespace snapshot {

// Keeps Picture1 at (-HScroll1.Value, -VScroll1.Value) inside Picture2: every change
// of a bar's value, while a thumb is dragged too, moves the picture on its axis.
// The mouse wheel over the preview moves an enabled bar.
class Preview {
public:
    static constexpr int kWheelStep = 60;  // pixels a notch

    explicit Preview(platform::IWindow& main);

private:
    void horizontalMove();
    void verticalMove();
    void wheel(int dx, int dy);

    platform::IPictureBox& picture1_;
    platform::IScrollBar& hscroll_;
    platform::IScrollBar& vscroll_;
};

}  // namespace snapshot
