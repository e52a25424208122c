// Where the engine's print-out put a page's headings, found in its text as a reader finds
// them there: in the page's order, each after the one before it.
#pragma once

#include "capture/PrintOut.h"

namespace shot {

// One for each heading of `printed`; none where its text was not found, or the
// print-out could not be read.
capture::FoundHeadings findHeadings(const capture::PrintOut& printed);

}  // namespace shot
