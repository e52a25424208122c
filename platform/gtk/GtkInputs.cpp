#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "platform/gtk/GtkControls.h"
#include "platform/gtk/GtkHelpers.h"

namespace platform::gtk {

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

void GtkScrollBar::setSmallChange(int step) { adjustment_->set_step_increment(std::max(1, step)); }

}  // namespace platform::gtk
