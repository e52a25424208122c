#include <algorithm>
#include <cmath>

#include "platform/gtk/GtkControls.h"
#include "platform/gtk/GtkHelpers.h"

namespace platform::gtk {

GtkPictureBox::GtkPictureBox(const ControlDesign& d, int x, int y, int w, int h)
    : x_(x), y_(y), w_(w), h_(h), border_(d.borderPx), back_(d.back.value_or(Colour::system(SchemeColour::WindowBackground))) {
    put(client_, border_, border_);
    client_.signal_draw().connect(
        [this](const Cairo::RefPtr<Cairo::Context>& cr) {
            if (gtk_cairo_should_draw_window(cr->cobj(), client_.get_bin_window()->gobj())) drawImage(cr);
            return false;
        },
        false);
    client_.show();
    client_.add_events(Gdk::SCROLL_MASK | Gdk::SMOOTH_SCROLL_MASK);
    client_.signal_scroll_event().connect([this](GdkEventScroll* e) { return wheel(e); });
    if (d.acceptsDrops) {
        client_.drag_dest_set({Gtk::TargetEntry("text/uri-list"), Gtk::TargetEntry("UTF8_STRING"),
                               Gtk::TargetEntry("text/plain;charset=utf-8"), Gtk::TargetEntry("text/plain")},
                              Gtk::DEST_DEFAULT_ALL, Gdk::ACTION_COPY | Gdk::ACTION_LINK | Gdk::ACTION_MOVE);
        client_.signal_drag_data_received().connect(
            [this](const Glib::RefPtr<Gdk::DragContext>&, int, int, const Gtk::SelectionData& data, guint, guint) {
                received(data);
            });
    }
    reposition();
    clearPicture();
    if (d.visible) show();
}

bool GtkPictureBox::wheel(GdkEventScroll* e) {
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
}

void GtkPictureBox::placeIn(GtkPictureBox& container) {
    container_ = &container;
    container.client_.put(*this, 0, 0);
    reposition();
}

void GtkPictureBox::reposition() {
    int ww = widgetSize(w_), wh = widgetSize(h_);
    shownX_ = shownY_ = 0;
    if (container_) {
        // Only the part of the box that lies in the container's inner area gets a widget.
        const int cw = container_->scaleWidth(), ch = container_->scaleHeight();
        int x0 = std::max(x_, 0), y0 = std::max(y_, 0);
        int x1 = static_cast<int>(std::min<long>(long{x_} + w_, cw)), y1 = static_cast<int>(std::min<long>(long{y_} + h_, ch));
        if (x1 <= x0 || y1 <= y0) {  // out of sight: a speck beyond the corner
            x0 = cw;
            y0 = ch;
            x1 = x0 + 1;
            y1 = y0 + 1;
        }
        shownX_ = x0 - x_;
        shownY_ = y0 - y_;
        ww = x1 - x0;
        wh = y1 - y0;
        container_->client_.move(*this, x0, y0);
    }
    set_size_request(ww, wh);
    // The inner area, in the widget's coordinates, cut to the widget.
    const int ix0 = std::max(border_ - shownX_, 0), iy0 = std::max(border_ - shownY_, 0);
    const int ix1 = std::min(border_ - shownX_ + scaleWidth(), ww), iy1 = std::min(border_ - shownY_ + scaleHeight(), wh);
    clientX_ = ix0 + shownX_ - border_;
    clientY_ = iy0 + shownY_ - border_;
    move(client_, ix0, iy0);
    client_.set_size_request(std::max(1, ix1 - ix0), std::max(1, iy1 - iy0));
    queue_draw();
}

void GtkPictureBox::setLeft(int v) {
    x_ = v;
    reposition();
}

void GtkPictureBox::setTop(int v) {
    y_ = v;
    reposition();
}

void GtkPictureBox::setSize(int w, int h) {
    if (w == w_ && h == h_) return;
    w_ = w;
    h_ = h;
    reposition();
    clearPicture();
}

std::uint32_t GtkPictureBox::backPixel() {
    const auto c = colourFor(back_, *this);
    auto channel = [](double v) { return static_cast<std::uint32_t>(std::lround(std::clamp(v, 0.0, 1.0) * 255)); };
    return channel(c.get_red()) << 16 | channel(c.get_green()) << 8 | channel(c.get_blue());
}

void GtkPictureBox::clearPicture() { setImage(std::make_shared<capture::Image>(scaleWidth(), scaleHeight(), backPixel())); }

void GtkPictureBox::setImage(std::shared_ptr<const capture::Image> image) {
    image_ = std::move(image);
    client_.queue_draw();
}

void GtkPictureBox::drawImage(const Cairo::RefPtr<Cairo::Context>& cr) {
    const auto back = image_ ? image_->back() : backPixel();
    cr->set_source_rgb(((back >> 16) & 0xFF) / 255.0, ((back >> 8) & 0xFF) / 255.0, (back & 0xFF) / 255.0);
    cr->paint();
    if (!image_) return;
    double x1, y1, x2, y2;
    cr->get_clip_extents(x1, y1, x2, y2);
    const double top = y1 + clientY_, bottom = y2 + clientY_;
    for (const auto& band : image_->bands()) {
        if (band.top + band.height <= top || band.top >= bottom) continue;
        // The band as it is, without a copy; cairo reads only what the clip lets through.
        cairo_surface_t* s = cairo_image_surface_create_for_data(const_cast<unsigned char*>(band.pixels), CAIRO_FORMAT_RGB24,
                                                                 image_->width(), band.height, static_cast<int>(band.stride));
        cairo_set_source_surface(cr->cobj(), s, -clientX_, band.top - clientY_);
        cr->rectangle(-clientX_, band.top - clientY_, image_->width(), band.height);
        cr->fill();
        cairo_surface_destroy(s);
    }
}

bool GtkPictureBox::on_draw(const Cairo::RefPtr<Cairo::Context>& cr) {
    if (border_ > 0 && gtk_cairo_should_draw_window(cr->cobj(), get_bin_window()->gobj())) {
        // A sunken frame: dark above and left, light below and right.
        cr->save();
        cr->translate(-shownX_, -shownY_);
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
        cr->restore();
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

}  // namespace platform::gtk
