// A small picture of a large one, for a contact sheet.
#pragma once

#include <memory>

#include "capture/Image.h"

namespace capture {

// The top of `image` scaled down to `width` pixels (or left as wide as it is when it is
// narrower), at most `maxHeight` tall: each pixel the mean of the pixels it covers (a
// box filter). A transparent picture is laid on white. Null for an empty picture.
std::shared_ptr<Image> thumbnail(const Image& image, int width, int maxHeight);

}  // namespace capture
