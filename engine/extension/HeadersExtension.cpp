// Runs in the engine's web processes: adds the headers a capture asked for to every
// request of the page to the page's own origin, and to no other. The capture's own
// request for the page brings them, under a name of this extension's, which is taken
// off before the request leaves; a request that brings none clears them.
#include <webkit2/webkit-web-extension.h>

#include <string>
#include <utility>
#include <vector>

namespace {

constexpr const char* kCarrier = "Vemo-Headers";

struct Asked {
    std::string origin;
    std::vector<std::pair<std::string, std::string>> headers;
};

std::string originOf(const char* address) {
    GUri* uri = address ? g_uri_parse(address, G_URI_FLAGS_NONE, nullptr) : nullptr;
    if (!uri) return {};
    gchar* origin = g_uri_join(G_URI_FLAGS_NONE, g_uri_get_scheme(uri), nullptr, g_uri_get_host(uri), g_uri_get_port(uri),
                               "", nullptr, nullptr);
    std::string out = origin ? origin : "";
    g_free(origin);
    g_uri_unref(uri);
    for (auto& c : out) c = static_cast<char>(g_ascii_tolower(c));
    return out;
}

gboolean sendRequest(WebKitWebPage* page, WebKitURIRequest* request, WebKitURIResponse*, gpointer) {
    SoupMessageHeaders* headers = webkit_uri_request_get_http_headers(request);
    if (!headers) return FALSE;
    const char* uri = webkit_uri_request_get_uri(request);
    if (const char* carried = soup_message_headers_get_one(headers, kCarrier)) {
        // The capture's request for the page: what it asks for from here on.
        auto* asked = new Asked{originOf(uri), {}};
        if (GVariant* list = g_variant_parse(G_VARIANT_TYPE("a(ss)"), carried, nullptr, nullptr, nullptr)) {
            GVariantIter it;
            const gchar *name, *value;
            g_variant_iter_init(&it, list);
            while (g_variant_iter_next(&it, "(&s&s)", &name, &value)) asked->headers.emplace_back(name, value);
            g_variant_unref(list);
        }
        g_object_set_data_full(G_OBJECT(page), "vemo-asked", asked, [](gpointer p) { delete static_cast<Asked*>(p); });
        soup_message_headers_remove(headers, kCarrier);
        return FALSE;
    }
    const auto* asked = static_cast<const Asked*>(g_object_get_data(G_OBJECT(page), "vemo-asked"));
    if (!asked || asked->headers.empty() || originOf(uri) != asked->origin) return FALSE;
    for (const auto& [name, value] : asked->headers) soup_message_headers_replace(headers, name.c_str(), value.c_str());
    return FALSE;
}

}  // namespace

extern "C" G_MODULE_EXPORT void webkit_web_extension_initialize(WebKitWebExtension* extension) {
    g_signal_connect(extension, "page-created", G_CALLBACK(+[](WebKitWebExtension*, WebKitWebPage* page, gpointer) {
                         g_signal_connect(page, "send-request", G_CALLBACK(sendRequest), nullptr);
                     }), nullptr);
}
