#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "platform/gtk/GtkControls.h"
#include "platform/gtk/GtkHelpers.h"

namespace platform::gtk {

namespace {

int mouseButton(guint gdkButton) {
    switch (gdkButton) {
        case 1: return LeftButton;
        case 2: return MiddleButton;
        case 3: return RightButton;
        default: return 0;
    }
}

int heldButtons(guint state) {
    return ((state & GDK_BUTTON1_MASK) ? LeftButton : 0) | ((state & GDK_BUTTON2_MASK) ? MiddleButton : 0) |
           ((state & GDK_BUTTON3_MASK) ? RightButton : 0);
}

}  // namespace

// ---------------------------------------------------------------- light controls

LightControl::LightControl(Surface& surface, const ControlDesign& d)
    : surface_(surface),
      x_(twipsToPxX(d.left)),
      y_(twipsToPxY(d.top)),
      w_(twipsToPxX(d.width)),
      h_(twipsToPxY(d.height)),
      visible_(d.visible),
      pointer_(d.pointer) {}

GtkLabel::GtkLabel(Surface& s, const ControlDesign& d, const FontDesign& windowFont)
    : LightControl(s, d), caption_(d.text), font_(fontFor(d.font.value_or(windowFont))), fore_(d.fore) {
    layout_ = s.create_pango_layout("");
    relayout();
}

void GtkLabel::relayout() {
    layout_->set_text(caption_);
    layout_->set_font_description(font_);
    Pango::AttrList attrs;
    if (underline_) {
        auto u = Pango::Attribute::create_attr_underline(Pango::UNDERLINE_SINGLE);
        attrs.insert(u);
    }
    layout_->set_attributes(attrs);
    surface_.queue_draw();
}

void GtkLabel::setCaption(const std::string& c) {
    caption_ = c;
    relayout();
}

void GtkLabel::setUnderline(bool u) {
    if (u == underline_) return;
    underline_ = u;
    relayout();
}

Gdk::Rectangle GtkLabel::bounds() const {
    // The label sizes itself to its caption.
    int w = 0, h = 0;
    layout_->get_pixel_size(w, h);
    return {x_, y_, caption_.empty() ? 0 : w, h};
}

void GtkLabel::draw(const Cairo::RefPtr<Cairo::Context>& cr) {
    if (caption_.empty()) return;
    Gdk::Cairo::set_source_rgba(cr, colourFor(fore_.value_or(Colour::system(SchemeColour::WindowText)), surface_));
    cr->move_to(x_, y_);
    layout_->show_in_cairo_context(cr);
}

GtkImage::GtkImage(Surface& s, const ControlDesign& d) : LightControl(s, d) { setPicture({d.picture}); }

void GtkImage::setPicture(const Picture& p) {
    picture_ = p;
    pixbuf_ = loadPicture(p.name);
    if (pixbuf_) {
        // An image takes its picture's own size.
        w_ = pixbuf_->get_width();
        h_ = pixbuf_->get_height();
    }
    surface_.queue_draw_area(x_, y_, w_, h_);
}

void GtkImage::draw(const Cairo::RefPtr<Cairo::Context>& cr) {
    if (!pixbuf_) return;
    Gdk::Cairo::set_source_pixbuf(cr, pixbuf_, x_, y_);
    cr->rectangle(x_, y_, w_, h_);
    cr->fill();
}

// ---------------------------------------------------------------- the surface

Surface::Surface(const WindowDesign& d) : back_(d.back) {
    add_events(Gdk::BUTTON_PRESS_MASK | Gdk::BUTTON_RELEASE_MASK | Gdk::POINTER_MOTION_MASK | Gdk::ENTER_NOTIFY_MASK);
    setPicture({d.picture});
}

void Surface::setPicture(const Picture& p) {
    picture_ = p;
    pixbuf_ = loadPicture(p.name);
    queue_draw();
}

bool Surface::on_draw(const Cairo::RefPtr<Cairo::Context>& cr) {
    if (gtk_cairo_should_draw_window(cr->cobj(), get_bin_window()->gobj())) {
        Gdk::Cairo::set_source_rgba(cr, colourFor(back_, *this));
        cr->paint();
        if (pixbuf_) {
            Gdk::Cairo::set_source_pixbuf(cr, pixbuf_, 0, 0);
            cr->rectangle(0, 0, pixbuf_->get_width(), pixbuf_->get_height());
            cr->fill();
        }
        for (auto it = lights_.rbegin(); it != lights_.rend(); ++it)
            if ((*it)->visible()) (*it)->draw(cr);
    }
    return Gtk::Layout::on_draw(cr);
}

LightControl* Surface::hit(double x, double y) {
    for (auto* c : lights_) {
        if (!c->visible()) continue;
        const auto b = c->bounds();
        if (x >= b.get_x() && y >= b.get_y() && x < b.get_x() + b.get_width() && y < b.get_y() + b.get_height())
            return c;
    }
    return nullptr;
}

void Surface::setPointer(Pointer p) {
    if (p == shownPointer_ || !get_bin_window()) return;
    shownPointer_ = p;
    const char* name = p == Pointer::Move ? "move" : p == Pointer::Help ? "help" : "default";
    get_bin_window()->set_cursor(Gdk::Cursor::create(get_display(), name));
}

bool Surface::on_button_press_event(GdkEventButton* e) {
    if (e->type != GDK_BUTTON_PRESS) return true;
    pressed_ = hit(e->x, e->y);
    if (pressed_) fire(pressed_->downHandlers, mouseButton(e->button));
    return true;
}

bool Surface::on_button_release_event(GdkEventButton* e) {
    LightControl* pressed = pressed_;
    pressed_ = nullptr;
    if (pressed && hit(e->x, e->y) == pressed) fire(pressed->clickHandlers);
    return true;
}

bool Surface::on_motion_notify_event(GdkEventMotion* e) {
    pointerAt(e->x, e->y, e->state);
    return true;
}

bool Surface::on_enter_notify_event(GdkEventCrossing* e) {
    // Arriving from another control is a move onto the surface too.
    if (e->mode == GDK_CROSSING_NORMAL) pointerAt(e->x, e->y, e->state);
    return true;
}

void Surface::pointerAt(double x, double y, guint state) {
    const int held = heldButtons(state);
    if (!held) pressed_ = nullptr;
    // While a button that went down on a control is held, the moves are that control's.
    LightControl* target = pressed_ ? pressed_ : hit(x, y);
    setPointer(target ? target->pointer() : Pointer::Default);
    if (target)
        fire(target->moveHandlers, held);
    else
        fire(surfaceMoveHandlers);
}

}  // namespace platform::gtk
