// A request to the capture service, as fields (from a query string or a JSON object),
// turned into the command's own arguments: one parser, one meaning for both.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "shot/Options.h"

namespace shot {

// The most a field's value, and all fields together, may hold.
inline constexpr std::size_t kLongestField = 8192;
inline constexpr std::size_t kLongestRequest = 65536;

struct ServiceRequest {
    std::optional<Options> options;  // the capture asked for, written to a file named by its format
    std::string error;               // why the request is refused, when it is
};

// `fields`: url, format (png|jpg|jpeg|bmp), width, height, scale, wait, timeout,
// warm-up (0|1|true|false), quality, animations (rest|run).
ServiceRequest requestFromFields(const std::map<std::string, std::string>& fields, bool allowFile);

}  // namespace shot
