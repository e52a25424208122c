#include "engine/Opening.h"

#include <gio/gio.h>

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

}  // namespace

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
