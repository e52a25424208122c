// Who a page is asked for by: the user agent, cookies, HTTP authentication and headers
// a capture gives, each for the page's own host or origin only.
#pragma once

#include <webkit2/webkit2.h>

#include <atomic>
#include <string>

#include "engine/Shot.h"

namespace engine {

// The host of an address, in lower case; empty when it has none.
std::string hostOf(const std::string& address);

class Identities {
public:
    // Follows a view: answers its pages' requests for HTTP authentication.
    void watch(WebKitWebView*);
    // Puts on `identity` for a capture of `address`: its user agent and cookies now (the
    // cookies' wait on the main loop bounded by `ms`), its credentials and headers for the
    // page's loads. The load itself goes through load().
    void presentAs(WebKitWebView*, const Identity&, const std::string& address, int ms, const std::atomic<bool>* cancel);
    // Loads `address` with the identity's headers.
    void load(WebKitWebView*, const std::string& address) const;
    // Why the page's request for a login went unanswered, since presentAs(); None if it did not.
    LoadError loginFailure() const { return loginFailure_; }

private:
    static gboolean authenticate(WebKitWebView*, WebKitAuthenticationRequest*, gpointer self);
    Identity identity_;
    std::string host_;
    LoadError loginFailure_ = LoadError::None;
    std::string userAgent_;  // the view's now: empty, the engine's own
};

// The folder of the web process extension that sends headers to a page's own origin:
// beside the program in its build folder, or in lib/vemo-snapshot beside the folder it
// is installed in.
std::string extensionsFolder();
// Whether the shared context has that extension.
bool extensionsReady();

}  // namespace engine
