// Who a page is asked for by: the user agent, cookies, HTTP authentication and headers
// a capture gives, each for the page's own host or origin only.
#pragma once

#include <webkit2/webkit2.h>

#include <atomic>
#include <memory>
#include <string>

#include "engine/Shot.h"

namespace engine {

// The host of an address, in lower case; empty when it has none.
std::string hostOf(const std::string& address);
// An address as WebKit writes it ("http://127.1:80/" is "http://127.0.0.1/").
std::string canonicalAddress(const std::string& address);

class Identities {
public:
    Identities() = default;
    ~Identities();
    Identities(const Identities&) = delete;
    Identities& operator=(const Identities&) = delete;

    // Follows a view: answers its pages' requests for HTTP authentication.
    void watch(WebKitWebView*);
    // Puts on `identity` for a capture of `address`: its user agent, cookies and headers
    // now (the wait for the engine to take them bounded by `ms`), its credentials for the
    // page's loads. The load itself goes through load().
    void presentAs(WebKitWebView*, const Identity&, const std::string& address, int ms, const std::atomic<bool>* cancel);
    void load(WebKitWebView*, const std::string& address) const;
    // Why the page's own request for a login went unanswered, since presentAs(); None if it did not.
    LoadError loginFailure() const { return loginFailure_; }
    // Notes the resources left out since presentAs() because another origin than the
    // page's asked for a login.
    void tally(ShotResult&) const;

private:
    static gboolean authenticate(WebKitWebView*, WebKitAuthenticationRequest*, gpointer self);
    static void resourceStarted(WebKitWebView*, WebKitWebResource*, WebKitURIRequest*, gpointer self);
    static void resourceFinished(WebKitWebResource*, gpointer self);
    bool elsewhere(const std::string& origin) const;  // neither the page's asked for nor where it is
    void skipped(const std::string& what);
    static void initializing(WebKitWebContext*, gpointer self);
    void sendHeaders(WebKitWebView*, const std::shared_ptr<int>& waiting);

    Identity identity_;
    std::string origin_;  // the page's, as WebKit writes it
    LoadError loginFailure_ = LoadError::None;
    int loginsSkipped_ = 0;
    std::string firstLoginSkipped_;
    std::string userAgent_;  // the view's now: empty, the engine's own
    guint64 pageId_ = 0;
    WebKitWebView* view_ = nullptr;
    bool headersSent_ = false;  // the view's web process may hold headers of an earlier capture
    gulong initializingHandler_ = 0;
};

// The folder of the web process extension that sends headers to a page's own origin:
// beside the program in its build folder, or in lib/vemo-snapshot beside the folder it
// is installed in.
std::string extensionsFolder();
// Whether the shared context has that extension.
bool extensionsReady();

}  // namespace engine
