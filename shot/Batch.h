// Lists of addresses and the file names a batch gives their pictures.
#pragma once

#include <istream>
#include <set>
#include <string>
#include <vector>

namespace shot {

// One address a line; blank lines and lines starting with '#' are skipped, and the
// blanks around an address are dropped.
std::vector<std::string> readList(std::istream&);

// A readable file name made from an address, unique among `taken` (which it joins):
// letters, digits, dots, dashes and underscores only, no leading dot, no folder.
std::string fileNameFor(const std::string& address, const std::string& extension, std::set<std::string>& taken);

}  // namespace shot
