// Lists of addresses, the file names a batch gives their pictures, and what an
// earlier run of the batch wrote.
#pragma once

#include <istream>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "capture/ImageFiles.h"
#include "shot/Report.h"

namespace shot {

// One address a line; blank lines and lines starting with '#' are skipped, and the
// blanks around an address are dropped.
std::vector<std::string> readList(std::istream&);

// A readable file name made from an address, unique among `taken` (which it joins):
// letters, digits, dots, dashes and underscores only, no leading dot, no folder.
std::string fileNameFor(const std::string& address, const std::string& extension, std::set<std::string>& taken);

// A page of a batch: its address and the file its picture goes to.
struct BatchPage {
    std::string address, path;
    capture::Format format = capture::Format::Png;
};

// For each page, what an earlier run's report says of it when that run wrote its
// picture to the same file and the file is still there; nothing for every other page
// (failed, or its file gone, moved or never written). Lines that are no page's
// report (one cut short, say) are passed over.
std::vector<std::optional<PageReport>> writtenBefore(const std::vector<BatchPage>&, std::istream& report);

}  // namespace shot
