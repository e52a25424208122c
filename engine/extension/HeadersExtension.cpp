// Runs in the engine's web processes: adds the headers a capture asked for to the
// page's requests to the page's own origin, and to no other. The engine sends them to
// the page as a message of WebKit's before it loads the page (or, to a web process
// started later, as its initialisation data): nothing a page requests can set them.
// Once the page has gone to another origin (a redirect, a move of its own), none are
// added again for that capture; and a request redirected away from the origin loses them.
#include <webkit2/webkit-web-extension.h>

#include <string>
#include <utility>
#include <vector>

#include "engine/extension/Channel.h"

namespace {

using engine::channel::originOf;

struct Asked {
    std::string origin;
    std::vector<std::pair<std::string, std::string>> headers;
    bool left = false;  // the page has been on another origin since they were asked for
};

// What the web process was started with, for the page it names.
struct Initial {
    guint64 page = 0;
    Asked asked;
};

Asked askedFrom(GVariant* origin, GVariant* list) {
    Asked a;
    a.origin = g_variant_get_string(origin, nullptr);
    GVariantIter it;
    const gchar *name, *value;
    g_variant_iter_init(&it, list);
    while (g_variant_iter_next(&it, "(&s&s)", &name, &value)) a.headers.emplace_back(name, value);
    return a;
}

Asked* askedOf(WebKitWebPage* page) { return static_cast<Asked*>(g_object_get_data(G_OBJECT(page), "vemo-asked")); }

void keep(WebKitWebPage* page, Asked asked) {
    g_object_set_data_full(G_OBJECT(page), "vemo-asked", new Asked(std::move(asked)),
                           [](gpointer p) { delete static_cast<Asked*>(p); });
}

gboolean messageReceived(WebKitWebPage* page, WebKitUserMessage* message, gpointer) {
    if (g_strcmp0(webkit_user_message_get_name(message), engine::channel::kAskedMessage) != 0) return FALSE;
    GVariant* p = webkit_user_message_get_parameters(message);
    if (p && g_variant_is_of_type(p, G_VARIANT_TYPE(engine::channel::kAskedType))) {
        GVariant* origin = g_variant_get_child_value(p, 0);
        GVariant* list = g_variant_get_child_value(p, 1);
        keep(page, askedFrom(origin, list));
        g_variant_unref(origin);
        g_variant_unref(list);
    } else {
        keep(page, {});
    }
    webkit_user_message_send_reply(message, webkit_user_message_new(engine::channel::kAskedMessage, nullptr));
    return TRUE;
}

void addressChanged(WebKitWebPage* page, GParamSpec*, gpointer) {
    Asked* asked = askedOf(page);
    const char* uri = webkit_web_page_get_uri(page);
    if (!asked || !uri || !*uri || g_str_has_prefix(uri, "about:")) return;
    if (originOf(uri) != asked->origin) asked->left = true;
}

gboolean sendRequest(WebKitWebPage* page, WebKitURIRequest* request, WebKitURIResponse* redirectedFrom, gpointer) {
    const Asked* asked = askedOf(page);
    SoupMessageHeaders* headers = webkit_uri_request_get_http_headers(request);
    if (!asked || asked->headers.empty() || !headers) return FALSE;
    if (!asked->left && originOf(webkit_uri_request_get_uri(request)) == asked->origin) {
        // Whatever the page's own request said under these names, the capture's values go.
        for (const auto& [name, value] : asked->headers) soup_message_headers_replace(headers, name.c_str(), value.c_str());
        return FALSE;
    }
    // A request of the origin redirected elsewhere would carry them on.
    if (redirectedFrom && originOf(webkit_uri_response_get_uri(redirectedFrom)) == asked->origin)
        for (const auto& h : asked->headers) soup_message_headers_remove(headers, h.first.c_str());
    return FALSE;
}

void pageCreated(WebKitWebExtension*, WebKitWebPage* page, gpointer data) {
    const auto* initial = static_cast<const Initial*>(data);
    if (initial->page == webkit_web_page_get_id(page)) keep(page, initial->asked);
    g_signal_connect(page, "user-message-received", G_CALLBACK(messageReceived), nullptr);
    g_signal_connect(page, "notify::uri", G_CALLBACK(addressChanged), nullptr);
    g_signal_connect(page, "send-request", G_CALLBACK(sendRequest), nullptr);
}

}  // namespace

extern "C" G_MODULE_EXPORT void webkit_web_extension_initialize_with_user_data(WebKitWebExtension* extension,
                                                                              const GVariant* constData) {
    auto* initial = new Initial;
    auto* data = const_cast<GVariant*>(constData);
    if (data && g_variant_is_of_type(data, G_VARIANT_TYPE(engine::channel::kInitialType))) {
        GVariant* page = g_variant_get_child_value(data, 0);
        GVariant* origin = g_variant_get_child_value(data, 1);
        GVariant* list = g_variant_get_child_value(data, 2);
        initial->page = g_variant_get_uint64(page);
        initial->asked = askedFrom(origin, list);
        g_variant_unref(page);
        g_variant_unref(origin);
        g_variant_unref(list);
    }
    g_signal_connect_data(extension, "page-created", G_CALLBACK(pageCreated), initial,
                          [](gpointer p, GClosure*) { delete static_cast<Initial*>(p); }, static_cast<GConnectFlags>(0));
}
