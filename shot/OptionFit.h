// Which options go with what is asked: one page, a batch or the service; a picture or a
// PDF. An option that would do nothing where it is given is refused, not ignored.
#pragma once

#include <string>
#include <vector>

namespace shot {

struct Options;

// Whether the option of that long name was given.
bool optionGiven(const Options&, const std::string& name);

// Takes one page's URL and OUT from `rest` (what follows the options), and says what
// does not go together, or empty.
std::string settleOptions(Options&, const std::vector<std::string>& rest);

}  // namespace shot
