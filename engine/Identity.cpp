#include "engine/Identity.h"

#include <libsoup/soup.h>

#include <filesystem>
#include <memory>

#include "engine/Opening.h"
#include "engine/PagePainter.h"
#include "engine/WebViews.h"
#include "engine/extension/Channel.h"

namespace engine {

namespace {

// The origin that asks for a login, written as channel::originOf() writes one.
std::string originAsking(WebKitAuthenticationRequest* request) {
    WebKitSecurityOrigin* o = webkit_authentication_request_get_security_origin(request);
    if (!o) return {};
    gchar* text = webkit_security_origin_to_string(o);
    webkit_security_origin_unref(o);
    const std::string origin = channel::originOf(text ? (std::string(text) + "/").c_str() : nullptr);
    g_free(text);
    return origin;
}

}  // namespace

std::string hostOf(const std::string& address) {
    GUri* uri = g_uri_parse(address.c_str(), G_URI_FLAGS_NONE, nullptr);
    std::string host = uri && g_uri_get_host(uri) ? g_uri_get_host(uri) : "";
    if (uri) g_uri_unref(uri);
    for (auto& c : host) c = static_cast<char>(g_ascii_tolower(c));
    return host;
}

std::string canonicalAddress(const std::string& address) {
    WebKitURIRequest* request = webkit_uri_request_new(address.c_str());
    const char* uri = webkit_uri_request_get_uri(request);
    std::string out = uri ? uri : address;
    g_object_unref(request);
    return out;
}

std::string extensionsFolder() {
    std::error_code ec;
    const auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) return {};
    const auto here = self.parent_path() / "web-extensions";
    if (std::filesystem::is_directory(here, ec)) return here.string();
    return (self.parent_path().parent_path() / "lib" / "vemo-snapshot" / "web-extensions").string();
}

Identities::~Identities() {
    if (initializingHandler_) g_signal_handler_disconnect(sharedWebContext(), initializingHandler_);
}

void Identities::watch(WebKitWebView* view) {
    userAgent_.clear();  // a new view has the engine's own, and a web process that holds no headers
    headersSent_ = false;
    view_ = view;
    g_signal_connect(view, "authenticate", G_CALLBACK(&Identities::authenticate), this);
    g_signal_connect(view, "resource-load-started", G_CALLBACK(&Identities::resourceStarted), this);
    if (!initializingHandler_)
        initializingHandler_ = g_signal_connect(sharedWebContext(), "initialize-web-extensions",
                                                G_CALLBACK(&Identities::initializing), this);
}

void Identities::initializing(WebKitWebContext* context, gpointer data) {
    // A web process started from now on (after one was ended, or for another site)
    // starts with the headers of the capture under way, for its page only.
    const auto* self = static_cast<Identities*>(data);
    GVariantBuilder b;
    g_variant_builder_init(&b, G_VARIANT_TYPE("a(ss)"));
    for (const auto& [name, value] : self->identity_.headers) g_variant_builder_add(&b, "(ss)", name.c_str(), value.c_str());
    webkit_web_context_set_web_extensions_initialization_user_data(
        context, g_variant_new(channel::kInitialType, self->pageId_, self->origin_.c_str(), &b));
}

bool Identities::elsewhere(const std::string& origin) const {
    // Where the page is now counts too: a page that went elsewhere asks from there.
    return origin != origin_ && (!view_ || origin != channel::originOf(webkit_web_view_get_uri(view_)));
}

void Identities::skipped(const std::string& what) {
    if (loginsSkipped_++ == 0) firstLoginSkipped_ = what;
}

void Identities::resourceStarted(WebKitWebView*, WebKitWebResource* resource, WebKitURIRequest*, gpointer data) {
    g_signal_connect(resource, "finished", G_CALLBACK(&Identities::resourceFinished), data);
}

void Identities::resourceFinished(WebKitWebResource* resource, gpointer data) {
    // A login another origin asks for without a challenge the engine answers (an image's,
    // a script's): what it guards never came.
    auto* self = static_cast<Identities*>(data);
    WebKitURIResponse* response = webkit_web_resource_get_response(resource);
    if (!response || webkit_uri_response_get_status_code(response) != SOUP_STATUS_UNAUTHORIZED) return;
    const char* uri = webkit_web_resource_get_uri(resource);
    if (uri && self->elsewhere(channel::originOf(uri))) self->skipped(uri);
}

gboolean Identities::authenticate(WebKitWebView*, WebKitAuthenticationRequest* request, gpointer data) {
    auto* self = static_cast<Identities*>(data);
    const std::string asking = originAsking(request);
    if (asking.empty() || self->elsewhere(asking) || webkit_authentication_request_is_for_proxy(request)) {
        // Another origin's login costs only what it guards (a frame's page), which is left out.
        self->skipped(asking);
        webkit_authentication_request_cancel(request);
        return TRUE;
    }
    const bool asked = asking == self->origin_;
    // Credentials go to the page's own origin, once: a wrong password is not tried again.
    const bool given = asked && !self->identity_.user.empty();
    if (!given || webkit_authentication_request_is_retry(request)) {
        self->loginFailure_ = given ? LoadError::LoginRefused : LoadError::NeedsLogin;
        webkit_authentication_request_cancel(request);
        return TRUE;
    }
    WebKitCredential* c = webkit_credential_new(self->identity_.user.c_str(), self->identity_.password.c_str(),
                                                WEBKIT_CREDENTIAL_PERSISTENCE_NONE);
    webkit_authentication_request_authenticate(request, c);
    webkit_credential_free(c);
    return TRUE;
}

void Identities::sendHeaders(WebKitWebView* view, const std::shared_ptr<int>& waiting) {
    GVariantBuilder b;
    g_variant_builder_init(&b, G_VARIANT_TYPE("a(ss)"));
    for (const auto& [name, value] : identity_.headers) g_variant_builder_add(&b, "(ss)", name.c_str(), value.c_str());
    WebKitUserMessage* message =
        webkit_user_message_new(channel::kAskedMessage, g_variant_new(channel::kAskedType, origin_.c_str(), &b));
    ++*waiting;
    // Answered once the page's process has them, or at once when the view has no process
    // yet (the one it starts takes them from its initialisation data).
    webkit_web_view_send_message_to_page(view, message, nullptr,
                                         [](GObject* source, GAsyncResult* result, gpointer d) {
                                             std::unique_ptr<std::shared_ptr<int>> keep(static_cast<std::shared_ptr<int>*>(d));
                                             WebKitUserMessage* reply = webkit_web_view_send_message_to_page_finish(
                                                 WEBKIT_WEB_VIEW(source), result, nullptr);
                                             if (reply) g_object_unref(reply);
                                             --**keep;
                                         },
                                         new std::shared_ptr<int>(waiting));
}

void Identities::presentAs(WebKitWebView* view, const Identity& identity, const std::string& address, int ms,
                           const std::atomic<bool>* cancel) {
    identity_ = identity;
    origin_ = channel::originOf(canonicalAddress(address).c_str());
    pageId_ = webkit_web_view_get_page_id(view);
    loginFailure_ = LoadError::None;
    loginsSkipped_ = 0;
    firstLoginSkipped_.clear();
    // A change of settings reaches the page's process: made only when there is one.
    WebKitSettings* settings = webkit_web_view_get_settings(view);
    if (identity.userAgent != userAgent_) {
        webkit_settings_set_user_agent(settings, identity.userAgent.empty() ? nullptr : identity.userAgent.c_str());
        userAgent_ = identity.userAgent;
    }
    auto waiting = std::make_shared<int>(0);
    // Headers: none are sent when none are asked for now or were before, nor to a process
    // that does not answer (the load replaces it, and the new one starts with them).
    if ((!identity.headers.empty() || headersSent_) && extensionsReady() &&
        webkit_web_view_get_is_web_process_responsive(view)) {
        sendHeaders(view, waiting);
        headersSent_ = !identity.headers.empty();
    }
    const std::string host = hostOf(canonicalAddress(address));
    WebKitCookieManager* jar =
        webkit_website_data_manager_get_cookie_manager(webkit_web_context_get_website_data_manager(sharedWebContext()));
    for (const auto& c : identity.cookies) {
        const std::string domain = c.domain.empty() ? host : c.domain;
        SoupCookie* cookie = soup_cookie_new(c.name.c_str(), c.value.c_str(), domain.c_str(), c.path.c_str(), -1);
        soup_cookie_set_secure(cookie, c.secure);
        soup_cookie_set_http_only(cookie, c.httpOnly);
        if (c.expires > 0) {
            GDateTime* when = g_date_time_new_from_unix_utc(c.expires);
            soup_cookie_set_expires(cookie, when);
            g_date_time_unref(when);
        }
        ++*waiting;
        webkit_cookie_manager_add_cookie(jar, cookie, nullptr,
                                         [](GObject* source, GAsyncResult* result, gpointer d) {
                                             std::unique_ptr<std::shared_ptr<int>> keep(static_cast<std::shared_ptr<int>*>(d));
                                             webkit_cookie_manager_add_cookie_finish(WEBKIT_COOKIE_MANAGER(source), result,
                                                                                     nullptr);
                                             --**keep;
                                         },
                                         new std::shared_ptr<int>(waiting));
        soup_cookie_free(cookie);
    }
    if (*waiting > 0) iterateUntil([&] { return *waiting == 0; }, ms, cancel);
}

void Identities::load(WebKitWebView* view, const std::string& address) const {
    openAddress(view, address);
}

void Identities::tally(ShotResult& r) const {
    r.loginsSkipped = loginsSkipped_;
    r.firstLoginSkipped = firstLoginSkipped_;
}

}  // namespace engine
