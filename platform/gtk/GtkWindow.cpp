#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "platform/gtk/GtkControls.h"
#include "platform/gtk/GtkHelpers.h"

namespace platform::gtk {

namespace {
const char* const kThemeIcon = "example.vemo.Snapshot";
}

GtkWindowImpl::GtkWindowImpl(const WindowDesign& d) : surface_(d), width_(d.width), height_(d.height) {
    window_.set_title(d.caption);
    window_.set_decorated(d.framed);
    window_.set_skip_taskbar_hint(!d.showInTaskbar);
    window_.set_skip_pager_hint(!d.showInTaskbar);
    window_.set_resizable(false);
    // The icon of the desktop's theme where the program is installed; the one compiled in elsewhere.
    if (Gtk::IconTheme::get_default()->has_icon(kThemeIcon)) window_.set_icon_name(kThemeIcon);
    else if (auto icon = loadPicture(d.icon)) window_.set_icon(icon);
    window_.move(twipsToPxX(d.left), twipsToPxY(d.top));
    window_.add(surface_);
    surface_.show();
    applySize();
    window_.signal_delete_event().connect([this](GdkEventAny*) {
        if (closeRequest_.empty()) return false;
        fire(closeRequest_);
        return true;
    });

    // Windowed controls are created from the bottom of the stacking order up, so each
    // lies above those after it; the labels and images keep the design's order.
    // Controls inside a picture box come after the window's own.
    std::vector<const ControlDesign*> order;
    for (auto it = d.controls.rbegin(); it != d.controls.rend(); ++it)
        if (it->container.empty()) order.push_back(&*it);
    for (auto it = d.controls.rbegin(); it != d.controls.rend(); ++it)
        if (!it->container.empty()) order.push_back(&*it);
    for (const ControlDesign* control : order) {
        const auto& c = *control;
        switch (c.kind) {
            case ControlKind::Label: c_.labels[c.name] = std::make_unique<GtkLabel>(surface_, c, d.font); break;
            case ControlKind::Image: c_.images[c.name] = std::make_unique<GtkImage>(surface_, c); break;
            case ControlKind::TextBox: c_.texts[c.name] = std::make_unique<GtkTextBox>(surface_, c, d.font); break;
            case ControlKind::HScrollBar:
            case ControlKind::VScrollBar: c_.bars[c.name] = std::make_unique<GtkScrollBar>(surface_, c); break;
            case ControlKind::Browser: c_.browsers[c.name] = std::make_unique<GtkBrowser>(surface_, c); break;
            case ControlKind::Timer: break;  // below, in the design's order
            case ControlKind::PictureBox: {
                std::unique_ptr<GtkPictureBox> box;
                if (c.container.empty()) {
                    box = std::make_unique<GtkPictureBox>(c, twipsToPxX(c.left), twipsToPxY(c.top), twipsToPxX(c.width),
                                                          twipsToPxY(c.height));
                    surface_.put(*box, box->left(), box->top());
                } else {
                    box = std::make_unique<GtkPictureBox>(c, c.left, c.top, c.width, c.height);
                    box->placeIn(c_.find(c_.pictures, c.container));
                }
                c_.pictures[c.name] = std::move(box);
                break;
            }
        }
    }
    for (const auto& c : d.controls) {
        if (c.kind == ControlKind::Timer) c_.timers[c.name] = std::make_unique<GtkTimer>(c.intervalMs);
        if (c.kind == ControlKind::Label) surface_.add(c_.labels[c.name].get());
        if (c.kind == ControlKind::Image) surface_.add(c_.images[c.name].get());
    }
}

GtkWindowImpl::~GtkWindowImpl() = default;

double GtkWindowImpl::left() const {
    int x = 0, y = 0;
    const_cast<Gtk::Window&>(window_).get_position(x, y);
    return x * twipsPerPixelX();
}

double GtkWindowImpl::top() const {
    int x = 0, y = 0;
    const_cast<Gtk::Window&>(window_).get_position(x, y);
    return y * twipsPerPixelY();
}

void GtkWindowImpl::applySize() {
    const int w = twipsToPxX(width_), h = twipsToPxY(height_);
    surface_.set_size(w, h);
    surface_.set_size_request(w, h);
    window_.resize(w, h);
}

void GtkWindowImpl::setHeight(double h) {
    height_ = h;
    applySize();
}

void GtkWindowImpl::show() {
    window_.show();
    window_.present();
}

void GtkWindowImpl::close() { window_.hide(); }

void GtkWindowImpl::beginMoveDrag() {
    GdkEvent* e = gtk_get_current_event();
    if (!e) return;
    if (e->type == GDK_BUTTON_PRESS)
        window_.begin_move_drag(static_cast<int>(e->button.button), static_cast<int>(e->button.x_root),
                                static_cast<int>(e->button.y_root), e->button.time);
    gdk_event_free(e);
}

}  // namespace platform::gtk
