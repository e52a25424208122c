#include "engine/Identity.h"

#include <libsoup/soup.h>

#include <filesystem>
#include <memory>

#include "engine/PagePainter.h"
#include "engine/WebViews.h"

namespace engine {

std::string hostOf(const std::string& address) {
    GUri* uri = g_uri_parse(address.c_str(), G_URI_FLAGS_NONE, nullptr);
    std::string host = uri && g_uri_get_host(uri) ? g_uri_get_host(uri) : "";
    if (uri) g_uri_unref(uri);
    for (auto& c : host) c = static_cast<char>(g_ascii_tolower(c));
    return host;
}

std::string extensionsFolder() {
    std::error_code ec;
    const auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) return {};
    const auto here = self.parent_path() / "web-extensions";
    if (std::filesystem::is_directory(here, ec)) return here.string();
    return (self.parent_path().parent_path() / "lib" / "vemo-snapshot" / "web-extensions").string();
}

void Identities::watch(WebKitWebView* view) {
    userAgent_.clear();  // a new view has the engine's own
    g_signal_connect(view, "authenticate", G_CALLBACK(&Identities::authenticate), this);
}

gboolean Identities::authenticate(WebKitWebView*, WebKitAuthenticationRequest* request, gpointer data) {
    auto* self = static_cast<Identities*>(data);
    const char* host = webkit_authentication_request_get_host(request);
    const bool ours = host && !self->identity_.user.empty() && hostOf(std::string("http://") + host + "/") == self->host_;
    // Credentials go to the page's own host, once: a wrong password is not tried again.
    if (!ours || webkit_authentication_request_is_retry(request)) {
        self->loginFailure_ = ours ? LoadError::LoginRefused : LoadError::NeedsLogin;
        webkit_authentication_request_cancel(request);
        return TRUE;
    }
    WebKitCredential* c = webkit_credential_new(self->identity_.user.c_str(), self->identity_.password.c_str(),
                                                WEBKIT_CREDENTIAL_PERSISTENCE_NONE);
    webkit_authentication_request_authenticate(request, c);
    webkit_credential_free(c);
    return TRUE;
}

void Identities::presentAs(WebKitWebView* view, const Identity& identity, const std::string& address, int ms,
                           const std::atomic<bool>* cancel) {
    identity_ = identity;
    host_ = hostOf(address);
    loginFailure_ = LoadError::None;
    // A change of settings reaches the page's process: made only when there is one.
    WebKitSettings* settings = webkit_web_view_get_settings(view);
    if (identity.userAgent != userAgent_) {
        webkit_settings_set_user_agent(settings, identity.userAgent.empty() ? nullptr : identity.userAgent.c_str());
        userAgent_ = identity.userAgent;
    }
    if (identity.cookies.empty()) return;
    WebKitCookieManager* jar =
        webkit_website_data_manager_get_cookie_manager(webkit_web_context_get_website_data_manager(sharedWebContext()));
    auto waiting = std::make_shared<int>(0);
    for (const auto& c : identity.cookies) {
        const std::string domain = c.domain.empty() ? host_ : c.domain;
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
    iterateUntil([&] { return *waiting == 0; }, ms, cancel);
}

void Identities::load(WebKitWebView* view, const std::string& address) const {
    if (identity_.headers.empty() && !extensionsReady()) {
        webkit_web_view_load_uri(view, address.c_str());
        return;
    }
    // The page's own request carries the headers (none, too: the last capture's are
    // forgotten); the extension in the web process learns them from it, under a name of
    // its own that it takes off again, and adds them to the page's later requests to
    // the same origin.
    WebKitURIRequest* request = webkit_uri_request_new(address.c_str());
    SoupMessageHeaders* headers = webkit_uri_request_get_http_headers(request);
    GVariantBuilder b;
    g_variant_builder_init(&b, G_VARIANT_TYPE("a(ss)"));
    for (const auto& [name, value] : identity_.headers) {
        if (headers) soup_message_headers_replace(headers, name.c_str(), value.c_str());
        g_variant_builder_add(&b, "(ss)", name.c_str(), value.c_str());
    }
    GVariant* all = g_variant_ref_sink(g_variant_builder_end(&b));
    gchar* text = g_variant_print(all, FALSE);
    if (headers) soup_message_headers_replace(headers, "Vemo-Headers", text);
    g_free(text);
    g_variant_unref(all);
    webkit_web_view_load_request(view, request);
    g_object_unref(request);
}

}  // namespace engine
