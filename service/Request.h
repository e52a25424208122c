// A request to the capture service, as fields (from a query string or a JSON object),
// turned into the command's own arguments and read by the command's own parser: every
// option of the command is a field of the service, with one meaning for both, but for
// those that are the command's alone.
#pragma once

#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "engine/Shot.h"
#include "shot/Options.h"

namespace service {

// Each field's name with its values as text: repeated in a query, a list in JSON.
using Fields = std::map<std::string, std::vector<std::string>>;

// The most a field's value, and all fields together, may hold.
inline constexpr std::size_t kLongestField = 8192;
inline constexpr std::size_t kLongestRequest = 65536;

// What the operator allows callers.
struct Limits {
    int maxTimeoutS = 60;    // the longest time limit a request may ask for; its default if lower than the command's
    bool allowFile = false;  // file: addresses
};

struct RequestRead {
    std::optional<engine::ShotRequest> request;
    std::string error;  // why the request is refused, when it is
};

// `fields`: url, format (png|jpg|jpeg|bmp|webp), and the command's options by their
// long names without dashes (switches take true or false, 1 or 0).
RequestRead requestFromFields(const Fields&, const Limits&);

// Why a batch cannot be sent to a service with these options (empty when it can):
// the service's network rules are its operator's, and it reads no file of the caller's.
std::string sentProblem(const shot::Options&);

// The command's options that are not fields: batches, files on the service's machine,
// and the service's own settings, which are the operator's.
const std::set<std::string>& commandOnly();

}  // namespace service
