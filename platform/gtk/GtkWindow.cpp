#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "platform/gtk/GtkControls.h"

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

// Runs handlers from a copy, so a handler may add others while they run.
template <class List, class... Args>
void fire(const List& handlers, Args... args) {
    const List copy = handlers;
    for (const auto& h : copy) h(args...);
}

// Widgets cannot be larger than the window system allows; the control keeps its
// own size beyond that.
constexpr int kLargestWidget = 32767;
int widgetSize(int v) { return std::clamp(v, 1, kLargestWidget); }

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

// ---------------------------------------------------------------- windowed controls

GtkTextBox::GtkTextBox(Surface& s, const ControlDesign& d, const FontDesign& windowFont) {
    entry_.set_text(d.text);
    entry_.override_font(fontFor(d.font.value_or(windowFont)));
    entry_.set_size_request(twipsToPxX(d.width), twipsToPxY(d.height));
    entry_.signal_activate().connect([this] { fire(enter_); });
    s.put(entry_, twipsToPxX(d.left), twipsToPxY(d.top));
    if (d.visible) entry_.show();
}

GtkScrollBar::GtkScrollBar(Surface& s, const ControlDesign& d)
    : adjustment_(Gtk::Adjustment::create(0, 0, 32767, d.stepValue > 0 ? d.stepValue : 1, 1, 0)),
      bar_(adjustment_, d.kind == ControlKind::HScrollBar ? Gtk::ORIENTATION_HORIZONTAL : Gtk::ORIENTATION_VERTICAL) {
    // A click gives the bar the keyboard, as it should; GTK scroll bars draw no
    // blinking caret to hide.
    bar_.set_sensitive(d.enabled);
    bar_.set_size_request(twipsToPxX(d.width), twipsToPxY(d.height));
    adjustment_->signal_value_changed().connect([this] {
        const int v = value();
        if (v == last_) return;
        last_ = v;
        fire(change_);
    });
    s.put(bar_, twipsToPxX(d.left), twipsToPxY(d.top));
    if (d.visible) bar_.show();
}

int GtkScrollBar::value() const { return static_cast<int>(std::lround(adjustment_->get_value())); }

void GtkScrollBar::setValue(int v) { adjustment_->set_value(v); }

void GtkScrollBar::setMax(int m) {
    max_ = m;
    const int lo = std::min(0, m), hi = std::max(0, m);
    // configure() brings the value back into the new range and reports the change.
    adjustment_->configure(std::clamp(value(), lo, hi), lo, hi, adjustment_->get_step_increment(),
                           adjustment_->get_page_increment(), 0);
}

GtkPictureBox::GtkPictureBox(const ControlDesign& d, int x, int y, int w, int h)
    : x_(x), y_(y), w_(w), h_(h), border_(d.borderPx), back_(d.back.value_or(Colour::system(SchemeColour::WindowBackground))) {
    set_size_request(widgetSize(w_), widgetSize(h_));
    put(client_, border_, border_);
    client_.set_size_request(widgetSize(scaleWidth()), widgetSize(scaleHeight()));
    client_.signal_draw().connect(
        [this](const Cairo::RefPtr<Cairo::Context>& cr) {
            if (gtk_cairo_should_draw_window(cr->cobj(), client_.get_bin_window()->gobj())) {
                if (image_) {
                    cr->set_source(image_, 0, 0);
                    cr->rectangle(0, 0, image_->get_width(), image_->get_height());
                    cr->fill();
                } else {
                    Gdk::Cairo::set_source_rgba(cr, colourFor(back_, *this));
                    cr->paint();
                }
            }
            return false;
        },
        false);
    client_.show();
    client_.add_events(Gdk::SCROLL_MASK | Gdk::SMOOTH_SCROLL_MASK);
    client_.signal_scroll_event().connect([this](GdkEventScroll* e) {
        int dx = 0, dy = 0;
        switch (e->direction) {
            case GDK_SCROLL_UP: dy = -1; break;
            case GDK_SCROLL_DOWN: dy = 1; break;
            case GDK_SCROLL_LEFT: dx = -1; break;
            case GDK_SCROLL_RIGHT: dx = 1; break;
            case GDK_SCROLL_SMOOTH: {
                wheelX_ += e->delta_x;
                wheelY_ += e->delta_y;
                dx = static_cast<int>(wheelX_);
                dy = static_cast<int>(wheelY_);
                wheelX_ -= dx;
                wheelY_ -= dy;
                break;
            }
        }
        if (e->state & GDK_SHIFT_MASK) std::swap(dx, dy);
        if (dx || dy) fire(wheel_, dx, dy);
        // A box inside another passes the wheel on to it only when nobody handled it.
        return !wheel_.empty();
    });
    if (d.acceptsDrops) {
        client_.drag_dest_set({Gtk::TargetEntry("text/uri-list"), Gtk::TargetEntry("UTF8_STRING"),
                               Gtk::TargetEntry("text/plain;charset=utf-8"), Gtk::TargetEntry("text/plain")},
                              Gtk::DEST_DEFAULT_ALL, Gdk::ACTION_COPY | Gdk::ACTION_LINK | Gdk::ACTION_MOVE);
        client_.signal_drag_data_received().connect(
            [this](const Glib::RefPtr<Gdk::DragContext>&, int, int, const Gtk::SelectionData& data, guint, guint) {
                received(data);
            });
    }
    makeImage();
    if (d.visible) show();
}

void GtkPictureBox::placeIn(GtkPictureBox& container) {
    container_ = &container.client_;
    container_->put(*this, x_, y_);
}

void GtkPictureBox::setLeft(int v) {
    x_ = v;
    if (container_) container_->move(*this, x_, y_);
}

void GtkPictureBox::setTop(int v) {
    y_ = v;
    if (container_) container_->move(*this, x_, y_);
}

void GtkPictureBox::setSize(int w, int h) {
    if (w == w_ && h == h_) return;
    w_ = w;
    h_ = h;
    set_size_request(widgetSize(w_), widgetSize(h_));
    client_.set_size_request(widgetSize(scaleWidth()), widgetSize(scaleHeight()));
    makeImage();
}

std::uint32_t GtkPictureBox::backPixel() {
    const auto c = colourFor(back_, *this);
    auto channel = [](double v) { return static_cast<std::uint32_t>(std::lround(std::clamp(v, 0.0, 1.0) * 255)); };
    return channel(c.get_red()) << 16 | channel(c.get_green()) << 8 | channel(c.get_blue());
}

void GtkPictureBox::makeImage() {
    const int w = scaleWidth(), h = scaleHeight();
    // Cairo images stop at 32767 pixels a side: a larger box has no image.
    if (w <= 0 || h <= 0 || w > kLargestWidget || h > kLargestWidget) {
        image_.clear();
    } else if (!image_ || image_->get_width() != w || image_->get_height() != h) {
        image_ = Cairo::ImageSurface::create(Cairo::FORMAT_RGB24, w, h);
    }
    clearPicture();
}

void GtkPictureBox::clearPicture() {
    if (image_) {
        const std::uint32_t back = backPixel();
        image_->flush();
        unsigned char* data = image_->get_data();
        const int stride = image_->get_stride();
        for (int y = 0; y < image_->get_height(); ++y) {
            auto* row = reinterpret_cast<std::uint32_t*>(data + static_cast<std::size_t>(y) * stride);
            std::fill(row, row + image_->get_width(), back);
        }
        image_->mark_dirty();
    }
    client_.queue_draw();
}

ImageView GtkPictureBox::image() const {
    if (!image_) return {};
    image_->flush();
    return {image_->get_width(), image_->get_height(), image_->get_stride(), image_->get_data()};
}

void GtkPictureBox::painted() {
    if (image_) image_->mark_dirty();
    client_.queue_draw();
}

bool GtkPictureBox::on_draw(const Cairo::RefPtr<Cairo::Context>& cr) {
    if (border_ > 0 && gtk_cairo_should_draw_window(cr->cobj(), get_bin_window()->gobj())) {
        // A sunken frame: dark above and left, light below and right.
        const double w = w_, h = h_;
        for (int i = 0; i < border_; ++i) {
            cr->set_source_rgb(i == 0 ? 0.5 : 0.25, i == 0 ? 0.5 : 0.25, i == 0 ? 0.5 : 0.25);
            cr->move_to(i + 0.5, h - i - 1);
            cr->line_to(i + 0.5, i + 0.5);
            cr->line_to(w - i - 1, i + 0.5);
            cr->stroke();
            cr->set_source_rgb(i == 0 ? 1.0 : 0.83, i == 0 ? 1.0 : 0.83, i == 0 ? 1.0 : 0.83);
            cr->move_to(i + 0.5, h - i - 0.5);
            cr->line_to(w - i - 0.5, h - i - 0.5);
            cr->line_to(w - i - 0.5, i + 0.5);
            cr->stroke();
        }
    }
    return Gtk::Layout::on_draw(cr);
}

void GtkPictureBox::received(const Gtk::SelectionData& data) {
    DropData drop;
    const auto uris = data.get_uris();
    const bool allFiles = !uris.empty() && std::all_of(uris.begin(), uris.end(), [](const Glib::ustring& u) {
        return Glib::str_has_prefix(u, "file:");
    });
    if (allFiles) {
        drop.hasFiles = true;
        for (const auto& u : uris) {
            try {
                drop.files.push_back(Glib::filename_from_uri(u));
            } catch (const Glib::Error&) {
                drop.files.emplace_back();  // a path that cannot be read stays empty
            }
        }
    } else if (!uris.empty()) {
        drop.hasText = true;
        drop.text = uris.front();
    } else if (data.get_length() >= 0) {
        drop.hasText = true;
        drop.text = data.get_text();
    }
    if (drop.hasFiles || drop.hasText) fire(drop_, drop);
}

// ---------------------------------------------------------------- the window

GtkWindowImpl::GtkWindowImpl(const WindowDesign& d) : surface_(d), width_(d.width), height_(d.height) {
    window_.set_title(d.caption);
    window_.set_decorated(d.framed);
    window_.set_skip_taskbar_hint(!d.showInTaskbar);
    window_.set_skip_pager_hint(!d.showInTaskbar);
    window_.set_resizable(false);
    if (auto icon = loadPicture(d.icon)) window_.set_icon(icon);
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
            case ControlKind::Label: labels_[c.name] = std::make_unique<GtkLabel>(surface_, c, d.font); break;
            case ControlKind::Image: images_[c.name] = std::make_unique<GtkImage>(surface_, c); break;
            case ControlKind::TextBox: texts_[c.name] = std::make_unique<GtkTextBox>(surface_, c, d.font); break;
            case ControlKind::HScrollBar:
            case ControlKind::VScrollBar: bars_[c.name] = std::make_unique<GtkScrollBar>(surface_, c); break;
            case ControlKind::Browser: browsers_[c.name] = std::make_unique<GtkBrowser>(surface_, c); break;
            case ControlKind::Timer: break;  // below, in the design's order
            case ControlKind::PictureBox: {
                std::unique_ptr<GtkPictureBox> box;
                if (c.container.empty()) {
                    box = std::make_unique<GtkPictureBox>(c, twipsToPxX(c.left), twipsToPxY(c.top), twipsToPxX(c.width),
                                                          twipsToPxY(c.height));
                    surface_.put(*box, box->left(), box->top());
                } else {
                    box = std::make_unique<GtkPictureBox>(c, c.left, c.top, c.width, c.height);
                    box->placeIn(*find(pictures_, c.container));
                }
                pictures_[c.name] = std::move(box);
                break;
            }
        }
    }
    for (const auto& c : d.controls) {
        if (c.kind == ControlKind::Timer) timers_[c.name] = std::make_unique<GtkTimer>(c.intervalMs);
        if (c.kind == ControlKind::Label) surface_.add(labels_[c.name].get());
        if (c.kind == ControlKind::Image) surface_.add(images_[c.name].get());
    }
}

GtkWindowImpl::~GtkWindowImpl() = default;

template <class T>
T* GtkWindowImpl::find(std::map<std::string, std::unique_ptr<T>>& m, const std::string& n) {
    auto it = m.find(n);
    if (it == m.end()) throw std::out_of_range("no control " + n);
    return it->second.get();
}

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
