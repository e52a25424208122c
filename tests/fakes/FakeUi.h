// In-memory stand-ins for the windows, controls, browsers, dialogs and shell, so
// that the logic can be driven fast and without a display.
#pragma once

#include <algorithm>
#include <cctype>
#include <functional>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/ControlRegistry.h"
#include "platform/Ui.h"

namespace fakes {

using namespace platform;

struct PointerHandlers {
    std::vector<Handler> click;
    std::vector<MouseHandler> down, move;
    void fireClick() { for (auto& h : click) h(); }
    void fireDown(int b) { for (auto& h : down) h(b); }
    void fireMove(int b) { for (auto& h : move) h(b); }
};

class FakeLabel : public ILabel {
public:
    explicit FakeLabel(const ControlDesign& d) : caption_(d.text) {}
    std::string caption() const override { return caption_; }
    void setCaption(const std::string& c) override { caption_ = c; }
    bool underline() const override { return underline_; }
    void setUnderline(bool u) override { underline_ = u; }
    void onClick(Handler h) override { handlers.click.push_back(std::move(h)); }
    void onMouseDown(MouseHandler h) override { handlers.down.push_back(std::move(h)); }
    void onMouseMove(MouseHandler h) override { handlers.move.push_back(std::move(h)); }
    PointerHandlers handlers;

private:
    std::string caption_;
    bool underline_ = false;
};

class FakeImage : public IImage {
public:
    explicit FakeImage(const ControlDesign& d) : picture_{d.picture} {}
    Picture picture() const override { return picture_; }
    void setPicture(const Picture& p) override { picture_ = p; }
    void onClick(Handler h) override { handlers.click.push_back(std::move(h)); }
    void onMouseDown(MouseHandler h) override { handlers.down.push_back(std::move(h)); }
    void onMouseMove(MouseHandler h) override { handlers.move.push_back(std::move(h)); }
    PointerHandlers handlers;

private:
    Picture picture_;
};

class FakeTextBox : public ITextBox {
public:
    explicit FakeTextBox(const ControlDesign& d) : text_(d.text) {}
    std::string text() const override { return text_; }
    void setText(const std::string& t) override { text_ = t; }
    void setFocus() override { ++focusCount; }
    void onEnter(Handler h) override { enter_.push_back(std::move(h)); }
    void pressEnter() { for (auto& h : enter_) h(); }
    int focusCount = 0;

private:
    std::string text_;
    std::vector<Handler> enter_;
};

// Behaves like a scroll bar control: the value stays within Min 0 and Max (either
// way round), and every change of it raises the change event.
class FakeScrollBar : public IScrollBar {
public:
    explicit FakeScrollBar(const ControlDesign& d) : enabled_(d.enabled) {}
    int value() const override { return value_; }
    void setValue(int v) override;
    int max() const override { return max_; }
    void setMax(int m) override;
    bool enabled() const override { return enabled_; }
    void setEnabled(bool e) override { enabled_ = e; }
    void onChange(Handler h) override { change_.push_back(std::move(h)); }
    void setSmallChange(int s) override { smallChange = s; }
    // An arrow pressed: the value moves by the arrow step.
    void arrow(int direction) { setValue(value_ + direction * smallChange); }
    int smallChange = 10;

private:
    int value_ = 0, max_ = 32767;
    bool enabled_;
    std::vector<Handler> change_;
};

class FakePictureBox : public IPictureBox {
public:
    FakePictureBox(const ControlDesign& d, int leftPx, int topPx, int widthPx, int heightPx);
    int left() const override { return left_; }
    int top() const override { return top_; }
    void setLeft(int v) override { left_ = v; }
    void setTop(int v) override { top_ = v; }
    int width() const override { return width_; }
    int height() const override { return height_; }
    void setSize(int w, int h) override;
    int scaleWidth() const override { return std::max(0, width_ - 2 * border_); }
    int scaleHeight() const override { return std::max(0, height_ - 2 * border_); }
    int borderWidth() const override { return border_; }
    bool visible() const override { return visible_; }
    void setVisible(bool v) override { visible_ = v; }
    void clearPicture() override;
    void setAutoRedraw(bool a) override { autoRedraw_ = a; }
    bool autoRedraw() const override { return autoRedraw_; }
    std::shared_ptr<const capture::Image> image() const override { return image_; }
    void setImage(std::shared_ptr<const capture::Image> i) override { image_ = std::move(i); }
    void onDrop(std::function<void(const DropData&)> h) override { drop_.push_back(std::move(h)); }
    void onWheel(std::function<void(int, int)> h) override { wheel_.push_back(std::move(h)); }

    void drop(const DropData& d) { for (auto& h : drop_) h(d); }
    void wheel(int dx, int dy) { for (auto& h : wheel_) h(dx, dy); }
    int clears = 0;

private:
    int left_, top_, width_, height_, border_;
    bool visible_, autoRedraw_ = false;
    std::uint32_t back_ = 0;
    std::shared_ptr<const capture::Image> image_;
    std::vector<std::function<void(const DropData&)>> drop_;
    std::vector<std::function<void(int, int)>> wheel_;
};

class FakeBrowser : public IBrowser {
public:
    explicit FakeBrowser(const ControlDesign& d) : left_(d.left), top_(d.top), width_(d.width), height_(d.height) {}
    void navigate(const std::string& a) override { navigations.push_back(a); }
    double left() const override { return left_; }
    double top() const override { return top_; }
    double width() const override { return width_; }
    double height() const override { return height_; }
    void setLeft(double v) override { left_ = v; }
    void setTop(double v) override { top_ = v; }
    void setWidth(double v) override { width_ = v; }
    void setHeight(double v) override { height_ = v; }
    std::optional<BodyMetrics> measureBody() override {
        if (duringMeasure) duringMeasure();
        return hung ? std::nullopt : body;
    }
    std::shared_ptr<capture::Image> paintPage(int width, int height, std::uint32_t back) override;
    LoadState loadState() const override { return state; }
    bool stuck() const override { return hung; }
    std::string lastFailure() const override { return failure; }
    void readForm(const std::string& form, const std::vector<std::string>& fields, FormReply reply) override;
    void onDownloadComplete(Handler h) override { download_.push_back(std::move(h)); }
    void onNewWindow(std::function<void(bool&)> h) override { newWindow_.push_back(std::move(h)); }
    void onDocumentComplete(std::function<void(const std::string&)> h) override { complete_.push_back(std::move(h)); }

    // A page of the given size in pixels with plain margins-free body.
    void holdPage(long width, long height, std::uint32_t colour = 0x336699);
    void completeDocument(const std::string& address) { for (auto& h : complete_) h(address); }
    void downloadComplete() { for (auto& h : download_) h(); }
    bool newWindowRefused() {
        bool cancel = false;
        for (auto& h : newWindow_) h(cancel);
        return cancel;
    }

    std::vector<std::string> navigations;
    std::optional<BodyMetrics> body;
    std::optional<std::uint32_t> pageColour;  // empty: no page window to paint
    bool paintThrows = false;                 // painting fails as when memory runs out
    std::function<void()> duringPaint;        // runs while the engine is awaited
    std::function<void()> duringMeasure;
    LoadState state{LoadState::Arrived, {}};
    bool hung = false;                        // measuring and painting get no answer
    std::string failure;
    std::string formName = "formsg";
    std::map<std::string, std::string> formFields;
    bool hasForm = false;
    int prints = 0;
    // Geometry as it was when the page was painted.
    double printedLeft = 0, printedTop = 0, printedWidth = 0, printedHeight = 0;

private:
    double left_, top_, width_, height_;
    std::vector<Handler> download_;
    std::vector<std::function<void(bool&)>> newWindow_;
    std::vector<std::function<void(const std::string&)>> complete_;
};

class FakeTimer : public ITimer {
public:
    explicit FakeTimer(int interval) : interval_(interval) {}
    int interval() const override { return interval_; }
    void onTimer(Handler h) override { tick_.push_back(std::move(h)); }
    void fire() { for (auto& h : tick_) h(); }

private:
    int interval_;
    std::vector<Handler> tick_;
};

class FakeUi;

class FakeWindow : public IWindow {
public:
    FakeWindow(FakeUi& ui, const WindowDesign& d);
    ~FakeWindow() override;
    double left() const override { return left_; }
    double top() const override { return top_; }
    double width() const override { return width_; }
    double height() const override { return height_; }
    void setHeight(double h) override { height_ = h; }
    void show() override { visible_ = true; ++shows; }
    bool visible() const override { return visible_ && !closed; }
    void close() override { closed = true; }
    Picture picture() const override { return picture_; }
    void setPicture(const Picture& p) override { picture_ = p; }
    void beginMoveDrag() override { ++drags; }

    FakeLabel& label(const std::string& n) override { return c_.find(c_.labels, n); }
    FakeImage& image(const std::string& n) override { return c_.find(c_.images, n); }
    FakeTextBox& textBox(const std::string& n) override { return c_.find(c_.texts, n); }
    FakeScrollBar& scrollBar(const std::string& n) override { return c_.find(c_.bars, n); }
    FakePictureBox& pictureBox(const std::string& n) override { return c_.find(c_.pictures, n); }
    FakeBrowser& browser(const std::string& n) override { return c_.find(c_.browsers, n); }
    FakeTimer& timer(const std::string& n) override { return c_.find(c_.timers, n); }
    void onMouseMove(Handler h) override { surfaceMove_.push_back(std::move(h)); }
    void onCloseRequest(Handler h) override { closeRequest_.push_back(std::move(h)); }

    void moveOverSurface() { for (auto& h : surfaceMove_) h(); }
    void requestClose() { for (auto& h : closeRequest_) h(); }
    const std::string name;
    bool closed = false;
    int shows = 0, drags = 0;

private:

    FakeUi& ui_;
    double left_, top_, width_, height_;
    bool visible_ = false;
    Picture picture_;
    ControlRegistry<FakeLabel, FakeImage, FakeTextBox, FakeScrollBar, FakePictureBox, FakeBrowser, FakeTimer> c_;
    std::vector<Handler> surfaceMove_, closeRequest_;
};

class FakeUi : public IUi {
public:
    std::unique_ptr<IWindow> createWindow(const WindowDesign& d) override;
    Screen screen() const override { return screen_; }
    void doEvents() override;
    void post(Handler h) override { posted_.push_back(std::move(h)); }
    void endProgram() override { ++ends; }
    void setBusy(bool b) override { busy = b; busyChanges.push_back(b); }
    bool busy = false;
    std::vector<bool> busyChanges;

    // The live window of that design name created last, or null.
    FakeWindow* window(const std::string& name);
    int windowsCreated(const std::string& name) const;
    // Lets `ms` milliseconds pass, firing the timers that fall due, in order.
    void advance(int ms);
    void forget(FakeWindow* w);

    Screen screen_{15360, 11520, 15, 15};
    int pumps = 0, ends = 0;

private:
    struct Running {
        FakeWindow* window;
        FakeTimer* timer;
        long due;
    };
    std::vector<FakeWindow*> windows_;
    std::map<std::string, int> created_;
    std::vector<Running> timers_;
    std::vector<Handler> posted_;
    long now_ = 0;
    friend class FakeWindow;
};

class FakeDialogs : public IDialogs {
public:
    void warn(const std::string& text, const std::string& title) override { warnings.push_back({text, title}); }
    std::optional<std::string> saveFileName(const SaveFileRequest& r) override {
        requests.push_back(r);
        return nextName;
    }
    std::vector<std::pair<std::string, std::string>> warnings;
    std::vector<SaveFileRequest> requests;
    std::optional<std::string> nextName;
};

class FakeShell : public IShell {
public:
    void open(const std::string& t, ShowCommand s) override { opened.push_back({t, s}); }
    // A plain rule like the real one (which is tested on the real shell): http or https,
    // then a host of letters, digits, dots and inner hyphens.
    bool isWebLink(const std::string& a) const override {
        std::string lower;
        for (char c : a) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        const std::size_t at = lower.rfind("http://", 0) == 0 ? 7 : lower.rfind("https://", 0) == 0 ? 8 : 0;
        if (!at) return false;
        const auto end = std::min(a.find_first_of("/?#", at), a.size());
        const auto host = a.substr(at, end - at);
        if (host.empty() || host.front() == '-') return false;
        for (unsigned char c : host)
            if (!std::isalnum(c) && c != '.' && c != '-' && c != ':') return false;
        for (unsigned char c : a)
            if (c <= ' ' || c == 0x7F) return false;
        return true;
    }
    std::vector<std::pair<std::string, ShowCommand>> opened;
};

// Everything a test of the logic needs, wired together.
struct FakePlatform {
    FakeUi ui;
    FakeDialogs dialogs;
    FakeShell shell;
    Services services() { return {ui, dialogs, shell}; }
};

}  // namespace fakes
