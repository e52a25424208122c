// What the engine and its web process extension say to each other: the headers a
// capture asks for, and the origin they go to. They travel in WebKit's own messages
// (a message to the page, or the extension's initialisation data for a web process
// started later), never in a request a page could make. Header-only: the extension
// links nothing of the engine.
#pragma once

#include <glib.h>

#include <string>

namespace engine::channel {

// The message to a page: (origin, [(name, value)...]); answered once it is in force.
inline constexpr const char* kAskedMessage = "vemo-asked";
inline constexpr const char* kAskedType = "(sa(ss))";
// The initialisation data of a web process: (page id, origin, [(name, value)...]).
inline constexpr const char* kInitialType = "(tsa(ss))";

// The origin of an address as WebKit writes it (scheme, host, port), in lower case;
// empty when it has none.
inline std::string originOf(const char* address) {
    GUri* uri = address ? g_uri_parse(address, G_URI_FLAGS_NONE, nullptr) : nullptr;
    if (!uri) return {};
    std::string out;
    if (g_uri_get_host(uri) && *g_uri_get_host(uri)) {
        gchar* origin = g_uri_join(G_URI_FLAGS_NONE, g_uri_get_scheme(uri), nullptr, g_uri_get_host(uri),
                                   g_uri_get_port(uri), "", nullptr, nullptr);
        out = origin ? origin : "";
        g_free(origin);
    }
    g_uri_unref(uri);
    for (auto& c : out) c = static_cast<char>(g_ascii_tolower(c));
    return out;
}

}  // namespace engine::channel
