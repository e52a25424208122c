#include "engine/Opening.h"

#include <gio/gio.h>

#include <memory>
#include <utility>

#include "engine/Scripting.h"

namespace engine {

namespace {

constexpr goffset kLargestRead = goffset{256} << 20;

// The content of a local HTML file the system takes for XHTML; null for any other address.
GBytes* htmlFileTakenForXml(const std::string& address) {
    const std::string path = address.substr(0, address.find_first_of("?#"));
    gchar* lower = g_ascii_strdown(path.c_str(), -1);
    const bool html = g_str_has_prefix(lower, "file://") && (g_str_has_suffix(lower, ".html") || g_str_has_suffix(lower, ".htm"));
    g_free(lower);
    if (!html) return nullptr;
    GFile* file = g_file_new_for_uri(path.c_str());
    GBytes* content = nullptr;
    GFileInfo* info = g_file_query_info(file, G_FILE_ATTRIBUTE_STANDARD_CONTENT_TYPE "," G_FILE_ATTRIBUTE_STANDARD_SIZE,
                                        G_FILE_QUERY_INFO_NONE, nullptr, nullptr);
    if (info) {
        const char* type = g_file_info_get_content_type(info);
        if (type && g_content_type_equals(type, "application/xhtml+xml") && g_file_info_get_size(info) <= kLargestRead)
            content = g_file_load_bytes(file, nullptr, nullptr, nullptr);
        g_object_unref(info);
    }
    g_object_unref(file);
    return content;
}

// Writes `text` into the frame, or frame of a frame, whose element asks for `address`
// and that has not left its first, empty document: its pending load stops, and the
// document is parsed as HTML, its own address its base. True once written.
constexpr const char* kWriteFrame = R"JS(
const find = doc => {
  for (const f of doc.querySelectorAll('iframe, frame')) {
    let inner = null;
    try { inner = f.contentDocument; } catch (e) {}
    if (!inner) continue;
    if (f.src === address && inner.URL === 'about:blank') return inner;
    const deeper = find(inner);
    if (deeper) return deeper;
  }
  return null;
};
const inner = find(document);
if (!inner) return false;
// After a doctype, comments and processing instructions, where a base goes without
// changing how the document is laid out.
const lead = /^(?:\s|<!--[\s\S]*?-->|<\?[\s\S]*?>)*<!doctype[^>]*>/i.exec(text);
const at = lead ? lead[0].length : 0;
inner.open();
inner.write(text.slice(0, at) + '<base href="' + address.replace(/&/g, '&amp;').replace(/"/g, '&quot;') + '">' +
            text.slice(at));
inner.close();
return true;
)JS";

constexpr guint kLongestWrite = 5000;  // ms

// A frame's load held until the file is written into the frame.
struct Held {
    explicit Held(WebKitPolicyDecision* d) : decision(d) {}
    ~Held() { g_object_unref(decision); }
    Held(const Held&) = delete;
    Held& operator=(const Held&) = delete;
    // Written: the load it held is not to go on; else it goes on as it came.
    void decide(bool written) {
        if (std::exchange(decided, true)) return;
        if (written) webkit_policy_decision_ignore(decision);
        else webkit_policy_decision_use(decision);
    }
    WebKitPolicyDecision* decision;
    bool decided = false;
    guint timer = 0;
};

// A frame's document, a local HTML file the system takes for XHTML, is held and written
// into the frame as HTML instead; one the frame has no place for loads as it came.
gboolean decideFrame(WebKitWebView* view, WebKitPolicyDecision* decision, WebKitPolicyDecisionType type, gpointer) {
    if (type != WEBKIT_POLICY_DECISION_TYPE_RESPONSE) return FALSE;
    auto* response = WEBKIT_RESPONSE_POLICY_DECISION(decision);
    if (webkit_response_policy_decision_is_main_frame_main_resource(response)) return FALSE;
    WebKitURIResponse* got = webkit_response_policy_decision_get_response(response);
    const char* address = webkit_uri_response_get_uri(got);
    if (!address || g_strcmp0(webkit_uri_response_get_mime_type(got), "application/xhtml+xml") != 0) return FALSE;
    GBytes* content = htmlFileTakenForXml(address);
    if (!content) return FALSE;
    gsize size = 0;
    const auto* bytes = static_cast<const char*>(g_bytes_get_data(content, &size));
    gchar* text = g_utf8_make_valid(bytes ? bytes : "", static_cast<gssize>(size));
    g_bytes_unref(content);
    ScriptArgs args;
    args.text("address", address).text("text", text);
    g_free(text);
    // Decided once: by the page's reply, or as it came when none comes in time.
    auto held = std::make_shared<Held>(WEBKIT_POLICY_DECISION(g_object_ref(decision)));
    held->timer = g_timeout_add_full(G_PRIORITY_DEFAULT, kLongestWrite, [](gpointer data) -> gboolean {
        auto& h = **static_cast<std::shared_ptr<Held>*>(data);
        h.timer = 0;
        h.decide(false);
        return G_SOURCE_REMOVE;
    }, new std::shared_ptr<Held>(held), [](gpointer data) { delete static_cast<std::shared_ptr<Held>*>(data); });
    sendFunction(view, kWriteFrame, args.end(), World::Engine, [held](ScriptReply&& reply) {
        if (held->timer) g_source_remove(std::exchange(held->timer, 0));
        held->decide(reply.value.truth());
    });
    return TRUE;
}

}  // namespace

void readFramesAsHtml(WebKitWebView* view) { g_signal_connect(view, "decide-policy", G_CALLBACK(decideFrame), nullptr); }

void openAddress(WebKitWebView* view, const std::string& address) {
    if (GBytes* content = htmlFileTakenForXml(address)) {
        // Its own address stays the document's: what it links and loads is found beside it.
        webkit_web_view_load_bytes(view, content, "text/html", nullptr, address.c_str());
        g_bytes_unref(content);
        return;
    }
    webkit_web_view_load_uri(view, address.c_str());
}

}  // namespace engine
