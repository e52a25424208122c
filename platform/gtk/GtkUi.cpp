#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "platform/gtk/GtkControls.h"
#include "platform/gtk/GtkPlatform.h"
#include "engine/PagePainter.h"
#include "engine/WebViews.h"

// The embedded skin, compiled in by glib-compile-resources.
extern "C" GResource* vemo_skin_get_resource(void);

namespace platform::gtk {

namespace {

double logicalDpi() {
    auto screen = Gdk::Screen::get_default();
    const double dpi = screen ? screen->get_resolution() : -1;
    return dpi > 0 ? dpi : 96.0;
}

Gdk::Rectangle screenArea() {
    auto display = Gdk::Display::get_default();
    Glib::RefPtr<Gdk::Monitor> monitor = display->get_primary_monitor();
    if (!monitor) monitor = display->get_monitor(0);
    Gdk::Rectangle area;
    if (monitor) monitor->get_geometry(area);
    return area;
}

}  // namespace

double twipsPerPixelX() { return 1440.0 / logicalDpi(); }
double twipsPerPixelY() { return 1440.0 / logicalDpi(); }
int twipsToPxX(double twips) { return static_cast<int>(std::lround(twips / twipsPerPixelX())); }
int twipsToPxY(double twips) { return static_cast<int>(std::lround(twips / twipsPerPixelY())); }

Glib::RefPtr<Gdk::Pixbuf> loadPicture(const std::string& name) {
    static std::map<std::string, Glib::RefPtr<Gdk::Pixbuf>> cache;
    if (name.empty()) return {};
    auto& entry = cache[name];
    if (!entry) entry = Gdk::Pixbuf::create_from_resource("/vemo/skin/" + name);
    return entry;
}

Pango::FontDescription fontFor(const FontDesign& f) {
    // fontconfig knows no 宋体 here: the families after it stand in for it.
    Pango::FontDescription d("宋体,AR PL UMing CN,WenQuanYi Zen Hei");
    d.set_size(static_cast<int>(f.points * PANGO_SCALE));
    d.set_weight(f.bold ? Pango::WEIGHT_BOLD : Pango::WEIGHT_NORMAL);
    return d;
}

Gdk::RGBA colourFor(const Colour& c, Gtk::Widget& themed) {
    Gdk::RGBA rgba;
    if (c.scheme == SchemeColour::None) {
        rgba.set_rgba_u(c.rgb.r * 257, c.rgb.g * 257, c.rgb.b * 257);
        return rgba;
    }
    const char* name = c.scheme == SchemeColour::WindowBackground ? "theme_base_color"
                       : c.scheme == SchemeColour::WindowText    ? "theme_text_color"
                                                                 : "theme_fg_color";
    if (!themed.get_style_context()->lookup_color(name, rgba))
        rgba.set(c.scheme == SchemeColour::WindowBackground ? "white" : "black");
    return rgba;
}

// All timers run from one clock: each ticks at exact multiples of its interval from
// its start, without drift, and timers falling due together tick in the order they
// were made, so the one made last has the last word.
class TimerClock {
public:
    static TimerClock& get() {
        static TimerClock clock;
        return clock;
    }
    void add(GtkTimer* t) {
        timers_.push_back(t);
        arm();
    }
    void remove(GtkTimer* t) {
        timers_.erase(std::remove(timers_.begin(), timers_.end(), t), timers_.end());
        arm();
    }

private:
    void arm() {
        if (source_) g_source_remove(source_);
        source_ = 0;
        if (timers_.empty()) return;
        gint64 next = G_MAXINT64;
        for (auto* t : timers_) next = std::min(next, t->due);
        const gint64 waitMs = std::max<gint64>(0, (next - g_get_monotonic_time() + 999) / 1000);
        source_ = g_timeout_add(static_cast<guint>(waitMs), &TimerClock::fire, this);
    }
    static gboolean fire(gpointer data) {
        auto* self = static_cast<TimerClock*>(data);
        self->source_ = 0;
        const gint64 now = g_get_monotonic_time();
        std::vector<GtkTimer*> due;
        for (auto* t : self->timers_)
            if (t->due <= now) due.push_back(t);
        std::stable_sort(due.begin(), due.end(), [](GtkTimer* a, GtkTimer* b) { return a->due < b->due; });
        for (auto* t : due) {
            const gint64 step = static_cast<gint64>(t->interval()) * 1000;
            while (t->due <= now) t->due += step;
        }
        for (auto* t : due) {
            // A tick may destroy a window and its timers.
            if (std::find(self->timers_.begin(), self->timers_.end(), t) != self->timers_.end()) t->tick();
        }
        self->arm();
        return G_SOURCE_REMOVE;
    }
    std::vector<GtkTimer*> timers_;
    guint source_ = 0;
};

GtkTimer::GtkTimer(int interval)
    : due(g_get_monotonic_time() + static_cast<gint64>(std::max(1, interval)) * 1000), interval_(std::max(1, interval)) {
    TimerClock::get().add(this);
}

GtkTimer::~GtkTimer() { TimerClock::get().remove(this); }

void GtkTimer::tick() {
    const auto handlers = tick_;
    for (auto& h : handlers) h();
}

GtkUi::GtkUi() {
    // The program keeps no settings and writes no file but the snapshots: no settings
    // store, no shader cache, no list of recent files.
    engine::keepNothingOnDisk();
    // A session bus that is gone would stop the engine; one that answers serves the desktop.
    engine::forgetSessionBusThatIsGone();
    // Pages are photographed in their light colour scheme, whatever the host's theme.
    engine::keepPagesLight();
    // The windows' class ("Vemo-snapshot") follows the program's name, as its desktop entry expects.
    g_set_prgname("vemo-snapshot");
    if (!gtk_init_check(nullptr, nullptr)) throw std::runtime_error("cannot open the display");
    g_object_set(gtk_settings_get_default(), "gtk-recent-files-enabled", FALSE, "gtk-recent-files-max-age", 0, nullptr);
    engine::setColorScheme(false);
    Gtk::Main::init_gtkmm_internals();
    // Referencing the skin links it in; it registers itself when loaded.
    g_resources_register(vemo_skin_get_resource());
    auto css = Gtk::CssProvider::create();
    css->load_from_data("entry { min-height: 0; padding-top: 0; padding-bottom: 0; }");
    Gtk::StyleContext::add_provider_for_screen(Gdk::Screen::get_default(), css,
                                               GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
}

GtkUi::~GtkUi() { engine::removeSandboxFolders(); }

std::unique_ptr<IWindow> GtkUi::createWindow(const WindowDesign& d) { return std::make_unique<GtkWindowImpl>(d); }

Screen GtkUi::screen() const {
    const auto area = screenArea();
    Screen s;
    s.twipsPerPixelX = twipsPerPixelX();
    s.twipsPerPixelY = twipsPerPixelY();
    s.widthTwips = area.get_width() * s.twipsPerPixelX;
    s.heightTwips = area.get_height() * s.twipsPerPixelY;
    return s;
}

void GtkUi::doEvents() {
    // One pass over what is waiting; bounded, so a busy source cannot hold it.
    for (int i = 0; i < 500 && g_main_context_pending(nullptr); ++i) g_main_context_iteration(nullptr, FALSE);
}

void GtkUi::post(Handler h) { Glib::signal_idle().connect_once(std::move(h)); }

void GtkUi::endProgram() {
    std::fflush(nullptr);
    engine::removeSandboxFolders();
    ::_exit(0);
}

void GtkUi::setBusy(bool busy) {
    // A busy pointer over every window while a command runs; the windows' own after it.
    GList* windows = gtk_window_list_toplevels();
    for (GList* w = windows; w; w = w->next) {
        GdkWindow* gdk = gtk_widget_get_window(GTK_WIDGET(w->data));
        if (!gdk) continue;
        GdkCursor* cursor = busy ? gdk_cursor_new_from_name(gdk_window_get_display(gdk), "progress") : nullptr;
        gdk_window_set_cursor(gdk, cursor);
        if (cursor) g_object_unref(cursor);
    }
    g_list_free(windows);
    gdk_display_flush(gdk_display_get_default());
}

void GtkUi::run() { gtk_main(); }

bool GtkUi::runUntil(const std::function<bool()>& done, int ms) { return engine::iterateUntil(done, ms); }

}  // namespace platform::gtk
