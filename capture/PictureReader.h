// The top rows of a picture file held in memory, decoded: what a contact sheet needs of a
// picture that came as a file (from a capture service) rather than from an engine.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

#include "capture/Image.h"

namespace capture {

// The first rows (or all, when it has fewer) of a PNG, JPEG, WebP or bitmap file as the
// writers here make them, told apart by their first bytes: as many as `rows` asks for a
// picture of that width. Null for anything else, or a file that is damaged.
std::shared_ptr<Image> readTopRows(const std::uint8_t* bytes, std::size_t size, const std::function<int(int width)>& rows);

}  // namespace capture
