// Why a page could not be opened, in the words the window program shows.
#pragma once

#include <string>

#include "engine/Navigation.h"

namespace snapshot {

std::string loadFailureText(const engine::Failure&);

}  // namespace snapshot
