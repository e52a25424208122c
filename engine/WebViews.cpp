#include "engine/WebViews.h"

#include "engine/Identity.h"
#include "engine/Opening.h"
#include "engine/Scripting.h"
#include "engine/Watch.h"

#include <glib.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>

namespace engine {

namespace {

// The sandbox needs bubblewrap and the D-Bus proxy, and a kernel that lets bubblewrap
// make its namespaces: bubblewrap is tried once. The try under way, if any.
GPid sandboxTry = 0;

GPid startSandboxTry() {
    gchar* bwrap = g_find_program_in_path("bwrap");
    gchar* proxy = g_find_program_in_path("xdg-dbus-proxy");
    GPid pid = 0;
    if (bwrap && proxy) {
        const gchar* argv[] = {bwrap, "--ro-bind", "/", "/", "--unshare-all", "true", nullptr};
        const auto flags = static_cast<GSpawnFlags>(G_SPAWN_DO_NOT_REAP_CHILD | G_SPAWN_STDOUT_TO_DEV_NULL |
                                                    G_SPAWN_STDERR_TO_DEV_NULL);
        if (!g_spawn_async(nullptr, const_cast<gchar**>(argv), nullptr, flags, nullptr, nullptr, &pid, nullptr)) pid = 0;
    }
    g_free(bwrap);
    g_free(proxy);
    return pid;
}

// The longest the try may take: a bubblewrap that hangs (a stuck mount, a slow
// namespace) counts as a sandbox that cannot start.
constexpr gint64 kSandboxTryUs = 3 * G_USEC_PER_SEC;

bool sandboxWorks() {
    if (!sandboxTry) sandboxTry = startSandboxTry();
    if (!sandboxTry) return false;
    int status = -1;
    const gint64 until = g_get_monotonic_time() + kSandboxTryUs;
    pid_t got = 0;
    while ((got = ::waitpid(sandboxTry, &status, WNOHANG)) == 0 || (got < 0 && errno == EINTR)) {
        if (g_get_monotonic_time() > until) {
            ::kill(sandboxTry, SIGKILL);
            while (::waitpid(sandboxTry, &status, 0) < 0 && errno == EINTR) {
            }
            status = -1;
            break;
        }
        g_usleep(2000);
    }
    g_spawn_close_pid(sandboxTry);
    sandboxTry = 0;
    return status != -1 && g_spawn_check_wait_status(status, nullptr);
}

// The engine takes a /.flatpak-info at the root to mean it runs inside Flatpak and leaves
// its pages to Flatpak's sandbox, starting its web processes without bubblewrap. Outside
// Flatpak (the engine itself leaves one there when, run as root, it is handed a session
// bus) that is no sandbox at all.
bool flatpakInfoOutsideFlatpak() {
    return g_file_test("/.flatpak-info", G_FILE_TEST_EXISTS) && !g_getenv("FLATPAK_ID");
}

gboolean answerDialog(WebKitWebView*, WebKitScriptDialog* dialog, gpointer) {
    const auto type = webkit_script_dialog_get_dialog_type(dialog);
    if (type == WEBKIT_SCRIPT_DIALOG_CONFIRM || type == WEBKIT_SCRIPT_DIALOG_BEFORE_UNLOAD_CONFIRM)
        webkit_script_dialog_confirm_set_confirmed(dialog, type == WEBKIT_SCRIPT_DIALOG_BEFORE_UNLOAD_CONFIRM);
    return TRUE;
}

// A page's dialogs in a view people see: shown, until they come too fast to be meant.
struct DialogPace {
    static constexpr int kAllowed = 3;
    static constexpr gint64 kWindowUs = 10 * G_USEC_PER_SEC;
    gint64 times[kAllowed] = {};
    int next = 0;
};

gboolean paceDialog(WebKitWebView* view, WebKitScriptDialog* dialog, gpointer data) {
    auto* pace = static_cast<DialogPace*>(data);
    const gint64 now = g_get_monotonic_time();
    const gint64 oldest = pace->times[pace->next];
    if (oldest != 0 && now - oldest < DialogPace::kWindowUs) return answerDialog(view, dialog, nullptr);
    pace->times[pace->next] = now;
    pace->next = (pace->next + 1) % DialogPace::kAllowed;
    return FALSE;  // the engine shows it
}

}  // namespace

void startSandboxCheck() {
    if (!sandboxTry) sandboxTry = startSandboxTry();
}

namespace {

// A theme's name without its dark variant ("Adwaita:dark", "Adwaita-dark": "Adwaita").
std::string lightTheme(std::string theme) {
    if (const auto colon = theme.find(':'); colon != std::string::npos) theme.erase(colon);
    if (theme.size() > 5 && theme.compare(theme.size() - 5, 5, "-dark") == 0) theme.erase(theme.size() - 5);
    return theme.empty() ? "Adwaita" : theme;
}

}  // namespace

void keepPagesLight() {
    // The engine takes the theme's dark variant as the pages' dark colour scheme.
    if (const char* theme = g_getenv("GTK_THEME")) g_setenv("GTK_THEME", lightTheme(theme).c_str(), TRUE);
}

void setColorScheme(bool dark) {
    GtkSettings* settings = gtk_settings_get_default();
    if (!settings) return;
    gchar* name = nullptr;
    gboolean preferDark = FALSE;
    g_object_get(settings, "gtk-theme-name", &name, "gtk-application-prefer-dark-theme", &preferDark, nullptr);
    const std::string now = name ? name : "Adwaita";
    g_free(name);
    const std::string theme = lightTheme(now) + (dark ? "-dark" : "");
    // A new theme is loaded anew (tens of milliseconds): only a change is made.
    if (theme == now && (preferDark != FALSE) == dark) return;
    g_object_set(settings, "gtk-theme-name", theme.c_str(), "gtk-application-prefer-dark-theme", dark ? TRUE : FALSE,
                 nullptr);
}

void setTransparent(WebKitWebView* view, bool transparent) {
    GdkRGBA now{};
    webkit_web_view_get_background_color(view, &now);
    // A change reaches the page's process: made only when there is one.
    if ((now.alpha == 0) == transparent) return;
    const GdkRGBA clear{0, 0, 0, 0}, white{1, 1, 1, 1};
    webkit_web_view_set_background_color(view, transparent ? &clear : &white);
}

void forgetSessionBusThatIsGone() {
    const char* address = g_getenv("DBUS_SESSION_BUS_ADDRESS");
    if (!address || !*address) return;
    GError* error = nullptr;
    if (GIOStream* stream = g_dbus_address_get_stream_sync(address, nullptr, nullptr, &error)) {
        g_io_stream_close(stream, nullptr, nullptr);
        g_object_unref(stream);
        return;
    }
    g_error_free(error);
    g_unsetenv("DBUS_SESSION_BUS_ADDRESS");
}

void keepNothingOnDisk() {
    g_setenv("GSETTINGS_BACKEND", "memory", FALSE);
    g_setenv("MESA_SHADER_CACHE_DISABLE", "true", FALSE);
}

namespace {
bool extensionsFound = false;
int pageMemoryMB = 0;  // 0: the engine's own limit
}  // namespace

void limitPageMemory(int megabytes) { pageMemoryMB = megabytes; }

bool extensionsReady() {
    sharedWebContext();
    return extensionsFound;
}

WebKitWebContext* sharedWebContext() {
    static WebKitWebContext* context = [] {
        // A page that takes more memory than it may has its web process ended, and says so.
        WebKitMemoryPressureSettings* memory = webkit_memory_pressure_settings_new();
        if (pageMemoryMB > 0) {
            webkit_memory_pressure_settings_set_memory_limit(memory, static_cast<guint>(pageMemoryMB));
            webkit_memory_pressure_settings_set_poll_interval(memory, 0.5);
            webkit_memory_pressure_settings_set_kill_threshold(memory, 1.0);
        }
        WebKitWebsiteDataManager* data = webkit_website_data_manager_new_ephemeral();
        auto* c = WEBKIT_WEB_CONTEXT(g_object_new(WEBKIT_TYPE_WEB_CONTEXT, "website-data-manager", data,
                                                  "memory-pressure-settings", memory, nullptr));
        g_object_unref(data);
        webkit_memory_pressure_settings_free(memory);
        // The extension that sends a capture's headers to the page's own origin.
        const std::string extensions = extensionsFolder();
        if (!extensions.empty() && g_file_test((extensions + "/libvemo-headers.so").c_str(), G_FILE_TEST_EXISTS)) {
            webkit_web_context_set_web_extensions_directory(c, extensions.c_str());
            extensionsFound = true;
        }
        webkit_web_context_set_cache_model(c, WEBKIT_CACHE_MODEL_DOCUMENT_VIEWER);
        const char* program = g_get_prgname() ? g_get_prgname() : "vemo";
        if (!sandboxWorks()) {
            std::fprintf(stderr, "%s: the web engine's sandbox cannot start here (bubblewrap or xdg-dbus-proxy is "
                                 "missing or not allowed); pages run without it.\n", program);
        } else if (flatpakInfoOutsideFlatpak()) {
            std::fprintf(stderr, "%s: the web engine's sandbox is off: /.flatpak-info exists outside Flatpak, and the "
                                 "engine takes it to mean Flatpak's own sandbox holds its pages; pages run without one "
                                 "until it is removed.\n", program);
        } else {
            webkit_web_context_set_sandbox_enabled(c, TRUE);
        }
        return c;
    }();
    return context;
}

WebKitWebView* newWebView(const ViewRole& role) {
    auto* view = WEBKIT_WEB_VIEW(webkit_web_view_new_with_context(sharedWebContext()));
    g_object_ref_sink(view);
    WebKitSettings* settings = webkit_web_view_get_settings(view);
    webkit_settings_set_hardware_acceleration_policy(settings, WEBKIT_HARDWARE_ACCELERATION_POLICY_NEVER);
    webkit_settings_set_enable_developer_extras(settings, FALSE);
    // Requests for new windows reach the view's create signal, which decides on them.
    webkit_settings_set_javascript_can_open_windows_automatically(settings, TRUE);
    // The programs have no printing: a page's print dialog, again and again, would hold
    // every window.
    g_signal_connect(view, "print", G_CALLBACK(+[](WebKitWebView*, WebKitPrintOperation*, gpointer) -> gboolean {
                         return TRUE;
                     }), nullptr);
    readFramesAsHtml(view);
    if (role.outOfSight) {
        // Typed text never goes to a page nobody sees. A dialog nobody can see would
        // hold the page forever: alerts are dismissed, questions answered no, leaving
        // the page allowed.
        gtk_widget_set_can_focus(GTK_WIDGET(view), FALSE);
        g_signal_connect(view, "script-dialog", G_CALLBACK(answerDialog), nullptr);
    } else {
        g_signal_connect_data(view, "script-dialog", G_CALLBACK(paceDialog), new DialogPace,
                              [](gpointer data, GClosure*) { delete static_cast<DialogPace*>(data); },
                              static_cast<GConnectFlags>(0));
    }
    if (role.eagerLoading) {
        // Images and frames marked to load only when scrolled into view start loading
        // as soon as the document is parsed, so they are in place when the page has loaded.
        WebKitUserScript* script = webkit_user_script_new_for_world(
            "document.querySelectorAll('img[loading=lazy],iframe[loading=lazy]')"
            ".forEach(function (e) { e.loading = 'eager'; });",
            WEBKIT_USER_CONTENT_INJECT_ALL_FRAMES, WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_END,
            worldName(World::Engine), nullptr, nullptr);
        webkit_user_content_manager_add_script(webkit_web_view_get_user_content_manager(view), script);
        webkit_user_script_unref(script);
        // A page that styles its scroll bars gets real ones, which take their width out
        // of the page's; every page is laid out as on a screen whose scroll bars float
        // above it, as unstyled ones do here.
        WebKitUserStyleSheet* sheet = webkit_user_style_sheet_new(
            "::-webkit-scrollbar { width: 0 !important; height: 0 !important; }", WEBKIT_USER_CONTENT_INJECT_ALL_FRAMES,
            WEBKIT_USER_STYLE_LEVEL_USER, nullptr, nullptr);
        webkit_user_content_manager_add_style_sheet(webkit_web_view_get_user_content_manager(view), sheet);
        webkit_user_style_sheet_unref(sheet);
        // What the page's scripts wait for, noted from before they run.
        watchPages(webkit_web_view_get_user_content_manager(view));
    }
    return view;
}

void removeSandboxFolders() {
    namespace fs = std::filesystem;
    const fs::path parent = fs::path(g_get_user_runtime_dir()) / ".flatpak";
    const std::string mine = "webkit-" + std::to_string(::getpid()) + "-";
    std::error_code ec;
    for (fs::directory_iterator it(parent, ec), end; !ec && it != end; it.increment(ec))
        if (it->path().filename().string().rfind(mine, 0) == 0) fs::remove_all(it->path(), ec);
    fs::remove(parent, ec);  // only when nothing else is in it
}

}  // namespace engine
