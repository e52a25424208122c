#include <cctype>

#include "platform/gtk/GtkControls.h"
#include "platform/gtk/GtkPlatform.h"

namespace platform::gtk {

namespace {

// The text before the first NUL.
std::string cString(const std::string& s) { return s.substr(0, s.find('\0')); }

// File patterns match case-sensitively here: "*.JPG" becomes "*.[jJ][pP][gG]".
std::string anyCase(const std::string& pattern) {
    std::string out;
    for (char c : pattern) {
        if (std::isalpha(static_cast<unsigned char>(c)))
            out += std::string("[") + static_cast<char>(std::tolower(static_cast<unsigned char>(c))) +
                   static_cast<char>(std::toupper(static_cast<unsigned char>(c))) + "]";
        else
            out += c;
    }
    return out;
}

}  // namespace

void GtkDialogs::warn(const std::string& text, const std::string& title) {
    Gtk::MessageDialog box(text, false, Gtk::MESSAGE_WARNING, Gtk::BUTTONS_OK, true);
    box.set_title(title);
    box.set_position(Gtk::WIN_POS_CENTER);
    box.run();
}

std::optional<std::string> GtkDialogs::saveFileName(const SaveFileRequest& r) {
    Gtk::FileChooserDialog dialog(cString(r.title), Gtk::FILE_CHOOSER_ACTION_SAVE);
    dialog.add_button("取消", Gtk::RESPONSE_CANCEL);
    dialog.add_button("保存", Gtk::RESPONSE_ACCEPT);
    dialog.set_default_response(Gtk::RESPONSE_ACCEPT);
    dialog.set_do_overwrite_confirmation((r.flags & 0x2) != 0);

    // The filter list: description, NUL, pattern, NUL, ... closed by a double NUL.
    std::size_t at = 0;
    while (at < r.filter.size() && r.filter[at] != '\0') {
        const std::size_t descEnd = r.filter.find('\0', at);
        if (descEnd == std::string::npos) break;
        const std::size_t patEnd = r.filter.find('\0', descEnd + 1);
        auto filter = Gtk::FileFilter::create();
        filter->set_name(r.filter.substr(at, descEnd - at));
        const std::string patterns = r.filter.substr(descEnd + 1, patEnd - descEnd - 1);
        std::size_t p = 0;
        while (p <= patterns.size()) {
            const std::size_t semi = std::min(patterns.find(';', p), patterns.size());
            if (semi > p) filter->add_pattern(anyCase(patterns.substr(p, semi - p)));
            p = semi + 1;
        }
        dialog.add_filter(filter);
        if (patEnd == std::string::npos) break;
        at = patEnd + 1;
    }

    // The name box of this dialog is no fixed-size buffer: it shows the initial name
    // without the buffer's padding.
    std::string initial = cString(r.fileBuffer);
    initial.erase(0, initial.find_first_not_of(' '));
    dialog.set_current_name(initial);

    if (dialog.run() != Gtk::RESPONSE_ACCEPT) return std::nullopt;
    const std::string chosen = dialog.get_filename();
    if (chosen.empty()) return std::nullopt;
    return chosen;
}

void GtkShell::open(const std::string& target, ShowCommand) {
    if (target.empty()) return;
    std::string uri;
    const char* scheme = g_uri_peek_scheme(target.c_str());
    if (scheme && std::string(scheme).size() > 1) {
        uri = target;
    } else {
        GError* error = nullptr;
        gchar* absolute = g_canonicalize_filename(target.c_str(), nullptr);
        gchar* fileUri = g_filename_to_uri(absolute, nullptr, &error);
        g_free(absolute);
        if (!fileUri) {
            g_clear_error(&error);
            return;
        }
        uri = fileUri;
        g_free(fileUri);
    }
    // The default handler decides how its window shows; its failure is not reported.
    g_app_info_launch_default_for_uri(uri.c_str(), nullptr, nullptr);
}

bool GtkShell::isWebLink(const std::string& address) const {
    // Characters that turn text around could make the address read as another.
    static const char* const kTurning[] = {"\u200E", "\u200F", "\u202A", "\u202B", "\u202C", "\u202D",
                                           "\u202E", "\u2066", "\u2067", "\u2068", "\u2069", "\u061C"};
    for (const char* t : kTurning)
        if (address.find(t) != std::string::npos) return false;
    if (!g_utf8_validate(address.c_str(), static_cast<gssize>(address.size()), nullptr)) return false;
    for (unsigned char c : address)
        if (c < 0x20 || c == 0x7F || c == '\\') return false;
    GUri* uri = g_uri_parse(address.c_str(), G_URI_FLAGS_NONE, nullptr);
    if (!uri) return false;
    const std::string scheme = g_uri_get_scheme(uri) ? g_uri_get_scheme(uri) : "";
    const char* host = g_uri_get_host(uri);
    bool ok = (scheme == "http" || scheme == "https") && host && *host && !g_uri_get_userinfo(uri);
    if (ok && !g_hostname_is_ip_address(host)) {
        // A DNS name: labels of letters, digits and inner hyphens, or an international name.
        gchar* ascii = g_hostname_to_ascii(host);
        ok = ascii != nullptr;
        if (ok) {
            std::string name = ascii;
            std::size_t start = 0;
            while (ok && start <= name.size()) {
                const auto end = std::min(name.find('.', start), name.size());
                const std::string label = name.substr(start, end - start);
                ok = !label.empty() && label.size() <= 63 && label.front() != '-' && label.back() != '-';
                for (char c : label) ok = ok && (g_ascii_isalnum(c) || c == '-');
                start = end + 1;
                if (end == name.size()) break;
            }
        }
        g_free(ascii);
    }
    g_uri_unref(uri);
    return ok;
}

}  // namespace platform::gtk
