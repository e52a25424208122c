// Panning the snapshot inside its viewport with the two scroll bars.
#pragma once

#include "platform/Ui.h"

namespace snapshot {

// Keeps Picture1 at (-HScroll1.Value, -VScroll1.Value) inside Picture2: every change
// of a bar's value, while a thumb is dragged too, moves the picture on its axis.
class Preview {
public:
    explicit Preview(platform::IWindow& main);

private:
    void horizontalMove();
    void verticalMove();

    platform::IPictureBox& picture1_;
    platform::IScrollBar& hscroll_;
    platform::IScrollBar& vscroll_;
};

}  // namespace snapshot
