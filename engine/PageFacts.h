// What a page came to, read from its view once it has been photographed (or has
// failed): where it landed, its title and its main document's HTTP status.
#pragma once

#include <webkit2/webkit2.h>

#include "engine/Navigation.h"
#include "engine/Shot.h"

namespace engine {

void notePageFacts(WebKitWebView*, const Navigation&, ShotResult&);

}  // namespace engine
