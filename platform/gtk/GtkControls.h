// GTK implementations of the windows and controls.
#pragma once

#include <gtkmm.h>

#include "engine/WebPage.h"
#include <webkit2/webkit2.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/ControlRegistry.h"
#include "platform/Ui.h"

namespace platform::gtk {

// Conversions shared by the controls.
Glib::RefPtr<Gdk::Pixbuf> loadPicture(const std::string& name);
Pango::FontDescription fontFor(const FontDesign&);
Gdk::RGBA colourFor(const Colour&, Gtk::Widget& themed);
double twipsPerPixelX();
double twipsPerPixelY();
int twipsToPxX(double twips);
int twipsToPxY(double twips);

class Surface;

// A label or an image: drawn on the window's own surface and hit-tested there,
// in the stacking order of the design.
class LightControl {
public:
    LightControl(Surface& surface, const ControlDesign& d);
    virtual ~LightControl() = default;
    virtual void draw(const Cairo::RefPtr<Cairo::Context>&) = 0;
    virtual Gdk::Rectangle bounds() const = 0;
    Pointer pointer() const { return pointer_; }
    bool visible() const { return visible_; }

    std::vector<Handler> clickHandlers;
    std::vector<MouseHandler> downHandlers, moveHandlers;

protected:
    Surface& surface_;
    int x_, y_, w_, h_;
    bool visible_;
    Pointer pointer_;
};

class GtkLabel : public ILabel, public LightControl {
public:
    GtkLabel(Surface& s, const ControlDesign& d, const FontDesign& windowFont);
    std::string caption() const override { return caption_; }
    void setCaption(const std::string&) override;
    bool underline() const override { return underline_; }
    void setUnderline(bool) override;
    void onClick(Handler h) override { clickHandlers.push_back(std::move(h)); }
    void onMouseDown(MouseHandler h) override { downHandlers.push_back(std::move(h)); }
    void onMouseMove(MouseHandler h) override { moveHandlers.push_back(std::move(h)); }
    void draw(const Cairo::RefPtr<Cairo::Context>&) override;
    Gdk::Rectangle bounds() const override;

private:
    void relayout();
    std::string caption_;
    bool underline_ = false;
    Pango::FontDescription font_;
    std::optional<Colour> fore_;
    Glib::RefPtr<Pango::Layout> layout_;
};

class GtkImage : public IImage, public LightControl {
public:
    GtkImage(Surface& s, const ControlDesign& d);
    Picture picture() const override { return picture_; }
    void setPicture(const Picture&) override;
    void onClick(Handler h) override { clickHandlers.push_back(std::move(h)); }
    void onMouseDown(MouseHandler h) override { downHandlers.push_back(std::move(h)); }
    void onMouseMove(MouseHandler h) override { moveHandlers.push_back(std::move(h)); }
    void draw(const Cairo::RefPtr<Cairo::Context>&) override;
    Gdk::Rectangle bounds() const override { return {x_, y_, w_, h_}; }

private:
    Picture picture_;
    Glib::RefPtr<Gdk::Pixbuf> pixbuf_;
};

// The window's client area: paints the back colour, the background picture and the
// labels and images, routes the mouse to them, and holds the windowed controls.
class Surface : public Gtk::Layout {
public:
    explicit Surface(const WindowDesign& d);
    void add(LightControl* c) { lights_.push_back(c); }
    void setPicture(const Picture& p);
    Picture picture() const { return picture_; }
    std::vector<Handler> surfaceMoveHandlers;

protected:
    bool on_draw(const Cairo::RefPtr<Cairo::Context>&) override;
    bool on_button_press_event(GdkEventButton*) override;
    bool on_button_release_event(GdkEventButton*) override;
    bool on_motion_notify_event(GdkEventMotion*) override;
    bool on_enter_notify_event(GdkEventCrossing*) override;

private:
    void pointerAt(double x, double y, guint state);
    LightControl* hit(double x, double y);
    void setPointer(Pointer p);

    std::vector<LightControl*> lights_;  // the topmost first
    Colour back_;
    Picture picture_;
    Glib::RefPtr<Gdk::Pixbuf> pixbuf_;
    LightControl* pressed_ = nullptr;
    Pointer shownPointer_ = Pointer::Default;
};

class GtkTextBox : public ITextBox {
public:
    GtkTextBox(Surface& s, const ControlDesign& d, const FontDesign& windowFont);
    std::string text() const override { return entry_.get_text(); }
    void setText(const std::string& t) override { entry_.set_text(t); }
    void setFocus() override { entry_.grab_focus(); }
    void onEnter(Handler h) override { enter_.push_back(std::move(h)); }
    Gtk::Entry& widget() { return entry_; }

private:
    Gtk::Entry entry_;
    std::vector<Handler> enter_;
};

class GtkScrollBar : public IScrollBar {
public:
    GtkScrollBar(Surface& s, const ControlDesign& d);
    int value() const override;
    void setValue(int) override;
    int max() const override { return max_; }
    void setMax(int) override;
    bool enabled() const override { return bar_.get_sensitive(); }
    void setEnabled(bool e) override { bar_.set_sensitive(e); }
    void onChange(Handler h) override { change_.push_back(std::move(h)); }
    void setSmallChange(int) override;
    Gtk::Scrollbar& widget() { return bar_; }

private:
    Glib::RefPtr<Gtk::Adjustment> adjustment_;
    Gtk::Scrollbar bar_;
    int max_ = 32767;
    int last_ = 0;
    std::vector<Handler> change_;
};

// A picture box: a bordered area showing a persistent image of any size, which may
// hold another box. A box inside another is shown by a widget over the part its
// container can show, so no window passes the window system's size limits.
class GtkPictureBox : public IPictureBox, public Gtk::Layout {
public:
    GtkPictureBox(const ControlDesign& d, int x, int y, int w, int h);
    int left() const override { return x_; }
    int top() const override { return y_; }
    void setLeft(int) override;
    void setTop(int) override;
    int width() const override { return w_; }
    int height() const override { return h_; }
    void setSize(int w, int h) override;
    int scaleWidth() const override { return std::max(0, w_ - 2 * border_); }
    int scaleHeight() const override { return std::max(0, h_ - 2 * border_); }
    int borderWidth() const override { return border_; }
    bool visible() const override { return get_visible(); }
    void setVisible(bool v) override { set_visible(v); }
    void clearPicture() override;
    void setAutoRedraw(bool a) override { autoRedraw_ = a; }
    bool autoRedraw() const override { return autoRedraw_; }
    std::shared_ptr<const capture::Image> image() const override { return image_; }
    void setImage(std::shared_ptr<const capture::Image>) override;
    void onDrop(std::function<void(const DropData&)> h) override { drop_.push_back(std::move(h)); }
    void onWheel(std::function<void(int, int)> h) override { wheel_.push_back(std::move(h)); }

    // Puts this box into the inner area of another.
    void placeIn(GtkPictureBox& container);

protected:
    bool on_draw(const Cairo::RefPtr<Cairo::Context>&) override;

private:
    void reposition();
    void drawImage(const Cairo::RefPtr<Cairo::Context>&);
    bool wheel(GdkEventScroll*);
    void received(const Gtk::SelectionData&);
    std::uint32_t backPixel();

    Gtk::Layout client_;  // the inner area, inside the border, as far as it is shown

    int x_, y_, w_, h_, border_;
    int shownX_ = 0, shownY_ = 0;    // the widget's top-left corner in the box
    int clientX_ = 0, clientY_ = 0;  // the client's top-left corner in the inner area
    bool autoRedraw_ = false;
    Colour back_;
    GtkPictureBox* container_ = nullptr;
    std::shared_ptr<const capture::Image> image_;
    std::vector<std::function<void(const DropData&)>> drop_;
    std::vector<std::function<void(int, int)>> wheel_;
    double wheelX_ = 0, wheelY_ = 0;  // smooth scrolling, gathered into notches
};

class GtkBrowser : public IBrowser {
public:
    GtkBrowser(Surface& s, const ControlDesign& d);
    ~GtkBrowser() override;
    void navigate(const std::string& address) override;
    double left() const override { return left_; }
    double top() const override { return top_; }
    double width() const override { return width_; }
    double height() const override { return height_; }
    void setLeft(double v) override { left_ = v; place(); }
    void setTop(double v) override { top_ = v; place(); }
    void setWidth(double v) override { width_ = v; place(); }
    void setHeight(double v) override { height_ = v; place(); }
    std::optional<BodyMetrics> measureBody() override;
    std::shared_ptr<capture::Image> paintPage(int width, int height, std::uint32_t back) override;
    LoadState loadState() const override;
    bool stuck() const override { return stuck_; }
    std::string lastFailure() const override { return failure_; }
    void readForm(const std::string& form, const std::vector<std::string>& fields, FormReply reply) override;
    void onDownloadComplete(Handler h) override { download_.push_back(std::move(h)); }
    void onNewWindow(std::function<void(bool&)> h) override { newWindow_.push_back(std::move(h)); }
    void onDocumentComplete(std::function<void(const std::string&)> h) override { complete_.push_back(std::move(h)); }

    WebKitWebView* view() { return view_; }
    // Paints in strips of this height even where one paint would do (0: only beyond one paint).
    void forceStrips(int stripHeight) { forcedStripHeight_ = stripHeight; }

private:
    static GtkWidget* create(WebKitWebView*, WebKitNavigationAction*, gpointer self);
    void loaded(const std::string& address);
    void giveUp();
    void place();

    Surface& surface_;
    engine::WebPage page_;
    WebKitWebView* view_;
    double left_, top_, width_, height_;
    int forcedStripHeight_ = 0;
    bool warmUp_ = false;  // scrolls through each page once after it has loaded
    bool stuck_ = false;
    bool expanded_ = false;  // a box of the page is let out until the paint
    std::string failure_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
    std::vector<Handler> download_;
    std::vector<std::function<void(bool&)>> newWindow_;
    std::vector<std::function<void(const std::string&)>> complete_;
};

class GtkTimer : public ITimer {
public:
    explicit GtkTimer(int interval);
    ~GtkTimer() override;
    int interval() const override { return interval_; }
    void onTimer(Handler h) override { tick_.push_back(std::move(h)); }
    void tick();
    gint64 due;  // monotonic microseconds of the next tick

private:
    int interval_;
    std::vector<Handler> tick_;
};

class GtkWindowImpl : public IWindow {
public:
    explicit GtkWindowImpl(const WindowDesign& d);
    ~GtkWindowImpl() override;
    double left() const override;
    double top() const override;
    double width() const override { return width_; }
    double height() const override { return height_; }
    void setHeight(double) override;
    void show() override;
    bool visible() const override { return window_.get_visible(); }
    void close() override;
    Picture picture() const override { return surface_.picture(); }
    void setPicture(const Picture& p) override { surface_.setPicture(p); }
    void beginMoveDrag() override;

    ILabel& label(const std::string& n) override { return c_.find(c_.labels, n); }
    IImage& image(const std::string& n) override { return c_.find(c_.images, n); }
    ITextBox& textBox(const std::string& n) override { return c_.find(c_.texts, n); }
    IScrollBar& scrollBar(const std::string& n) override { return c_.find(c_.bars, n); }
    IPictureBox& pictureBox(const std::string& n) override { return c_.find(c_.pictures, n); }
    IBrowser& browser(const std::string& n) override { return c_.find(c_.browsers, n); }
    ITimer& timer(const std::string& n) override { return c_.find(c_.timers, n); }
    void onMouseMove(Handler h) override { surface_.surfaceMoveHandlers.push_back(std::move(h)); }
    void onCloseRequest(Handler h) override { closeRequest_.push_back(std::move(h)); }

    Gtk::Window& gtkWindow() { return window_; }

private:
    void applySize();

    Gtk::Window window_;
    Surface surface_;
    double width_, height_;
    ControlRegistry<GtkLabel, GtkImage, GtkTextBox, GtkScrollBar, GtkPictureBox, GtkBrowser, GtkTimer> c_;
    std::vector<Handler> closeRequest_;
};

}  // namespace platform::gtk
