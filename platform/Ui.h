// The interfaces through which the program's logic reaches windows, controls,
// browsers, timers and the event loop. The logic never sees the toolkit behind them.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "capture/Image.h"
#include "capture/PageSize.h"
#include "engine/Navigation.h"
#include "platform/Design.h"

namespace platform {

using capture::BodyMetrics;

using Handler = std::function<void()>;

enum MouseButton { LeftButton = 1, RightButton = 2, MiddleButton = 4 };
using MouseHandler = std::function<void(int button)>;

// A picture held by an image control or a window: the name of an embedded picture.
struct Picture {
    std::string name;  // empty: no picture
    bool operator==(const Picture&) const = default;
};

// Controls drawn on the window's own surface (labels and images) that take the mouse.
class IPointerTarget {
public:
    virtual ~IPointerTarget() = default;
    virtual void onClick(Handler) = 0;
    virtual void onMouseDown(MouseHandler) = 0;
    virtual void onMouseMove(MouseHandler) = 0;
};

class ILabel : public IPointerTarget {
public:
    virtual std::string caption() const = 0;
    virtual void setCaption(const std::string&) = 0;  // the label resizes to fit
    virtual bool underline() const = 0;
    virtual void setUnderline(bool) = 0;
};

class IImage : public IPointerTarget {
public:
    virtual Picture picture() const = 0;
    virtual void setPicture(const Picture&) = 0;  // the image takes the picture's own size
};

class ITextBox {
public:
    virtual ~ITextBox() = default;
    virtual std::string text() const = 0;
    virtual void setText(const std::string&) = 0;
    virtual void setFocus() = 0;
    virtual void onEnter(Handler) = 0;  // the Enter key pressed in the box
};

// A scroll bar; its change event is raised for every change of the value, also
// continuously while the thumb is dragged and when a new Max brings the value back.
class IScrollBar {
public:
    virtual ~IScrollBar() = default;
    virtual int value() const = 0;
    virtual void setValue(int) = 0;
    virtual int max() const = 0;
    virtual void setMax(int) = 0;
    virtual bool enabled() const = 0;
    virtual void setEnabled(bool) = 0;
    virtual void onChange(Handler) = 0;
    // The arrow step: how far an arrow key or arrow click moves the value.
    virtual void setSmallChange(int) = 0;
};

// What was dropped: the formats on offer.
struct DropData {
    bool hasFiles = false;
    std::vector<std::string> files;  // full paths, in the order of the drop
    bool hasText = false;
    std::string text;
};

// A picture box. Position and size are in pixels of its container; the inner
// (scale) size is the outer size less the border on each side.
class IPictureBox {
public:
    virtual ~IPictureBox() = default;
    virtual int left() const = 0;
    virtual int top() const = 0;
    virtual void setLeft(int) = 0;
    virtual void setTop(int) = 0;
    virtual int width() const = 0;
    virtual int height() const = 0;
    virtual void setSize(int width, int height) = 0;
    virtual int scaleWidth() const = 0;
    virtual int scaleHeight() const = 0;
    virtual int borderWidth() const = 0;
    virtual bool visible() const = 0;
    virtual void setVisible(bool) = 0;
    // Empties the picture: the persistent image, of the inner size, holds only the back colour.
    virtual void clearPicture() = 0;
    virtual void setAutoRedraw(bool) = 0;
    virtual bool autoRedraw() const = 0;
    // The persistent image; the box shows it from its inner top-left corner.
    virtual std::shared_ptr<const capture::Image> image() const = 0;
    virtual void setImage(std::shared_ptr<const capture::Image>) = 0;
    virtual void onDrop(std::function<void(const DropData&)>) = 0;
    // The mouse wheel turned over the box: notches down (dy) or to the right (dx),
    // negative the other way. Shift turns the wheel sideways.
    virtual void onWheel(std::function<void(int dx, int dy)>) = 0;
};

// What the newest navigation of a browser has come to.
struct LoadState {
    enum Kind {
        Nothing,  // nothing asked for yet
        Opening,  // asked for; nothing of the new page has arrived
        Arrived,  // the page's document is there (it may still be loading images)
        Failed,   // it could not be opened
        Crashed,  // the process showing it ended unexpectedly
    };
    Kind kind = Nothing;
    engine::Failure failure;  // why it failed
};

// A web browser component. Geometry is in twips of its window.
class IBrowser {
public:
    virtual ~IBrowser() = default;
    virtual void navigate(const std::string& address) = 0;
    virtual double left() const = 0;
    virtual double top() const = 0;
    virtual double width() const = 0;
    virtual double height() const = 0;
    virtual void setLeft(double) = 0;
    virtual void setTop(double) = 0;
    virtual void setWidth(double) = 0;
    virtual void setHeight(double) = 0;
    // The body of the document now held; empty when there is no document or no body.
    virtual std::optional<BodyMetrics> measureBody() = 0;
    // Paints the whole document, from its top-left corner, into a new picture of the
    // given size; what does not fit is cut off, what the page does not reach is `back`.
    // Null when there is no page to paint or the engine could not paint it.
    virtual std::shared_ptr<capture::Image> paintPage(int width, int height, std::uint32_t back) = 0;
    // The newest navigation's state.
    virtual LoadState loadState() const = 0;
    // The last measurement or paint got no answer within its time limit: the page's
    // process was ended, and the next navigation starts a new one.
    virtual bool stuck() const = 0;
    // The engine's words on the last measurement or paint that failed.
    virtual std::string lastFailure() const = 0;
    // Reads the values of fields of a named form of the live document; a value is
    // empty where the form or the field is missing. The reply may come later.
    using FormReply = std::function<void(const std::vector<std::optional<std::string>>&)>;
    virtual void readForm(const std::string& form, const std::vector<std::string>& fields, FormReply) = 0;

    virtual void onDownloadComplete(Handler) = 0;
    virtual void onNewWindow(std::function<void(bool& cancel)>) = 0;
    virtual void onDocumentComplete(std::function<void(const std::string& address)>) = 0;
};

class ITimer {
public:
    virtual ~ITimer() = default;
    virtual int interval() const = 0;
    virtual void onTimer(Handler) = 0;
};

class IWindow {
public:
    virtual ~IWindow() = default;
    // Position and client size in twips.
    virtual double left() const = 0;
    virtual double top() const = 0;
    virtual double width() const = 0;
    virtual double height() const = 0;
    virtual void setHeight(double) = 0;
    virtual void show() = 0;
    virtual bool visible() const = 0;
    // Destroys the window on the screen; the object stays usable for reading.
    virtual void close() = 0;
    virtual Picture picture() const = 0;
    virtual void setPicture(const Picture&) = 0;
    // Hands the mouse press now under way to the window system's move loop.
    virtual void beginMoveDrag() = 0;

    virtual ILabel& label(const std::string& name) = 0;
    virtual IImage& image(const std::string& name) = 0;
    virtual ITextBox& textBox(const std::string& name) = 0;
    virtual IScrollBar& scrollBar(const std::string& name) = 0;
    virtual IPictureBox& pictureBox(const std::string& name) = 0;
    virtual IBrowser& browser(const std::string& name) = 0;
    virtual ITimer& timer(const std::string& name) = 0;

    // The mouse moving over the bare window surface, where no control lies.
    virtual void onMouseMove(Handler) = 0;
    // The window system's close command.
    virtual void onCloseRequest(Handler) = 0;
};

struct Screen {
    double widthTwips = 0, heightTwips = 0;
    double twipsPerPixelX = 15, twipsPerPixelY = 15;
};

class IUi {
public:
    virtual ~IUi() = default;
    // Builds a window and all its controls from its design; timers start running.
    virtual std::unique_ptr<IWindow> createWindow(const WindowDesign&) = 0;
    virtual Screen screen() const = 0;
    // Processes the events that are waiting, once.
    virtual void doEvents() = 0;
    // Runs the handler once the current event has been handled.
    virtual void post(Handler) = 0;
    // Ends the program at once.
    virtual void endProgram() = 0;
    // Shows, over every window, that a command is under way (or no longer).
    virtual void setBusy(bool) = 0;
};

// Modal dialogs.
struct SaveFileRequest {
    std::string title;          // "另存为"
    std::string filter;         // description, NUL, pattern, NUL, NUL
    std::string fileBuffer;     // the initial name, NUL-terminated, as long as the buffer
    unsigned flags = 0;
    std::size_t maxFile = 0;
};

class IDialogs {
public:
    virtual ~IDialogs() = default;
    // A modal box with the exclamation icon and a single OK button.
    virtual void warn(const std::string& text, const std::string& title) = 0;
    // The chosen path; empty when the user cancels or the dialog fails.
    virtual std::optional<std::string> saveFileName(const SaveFileRequest&) = 0;
};

enum class ShowCommand { Normal = 1, Maximized = 3 };

// Hands a file or an address to the desktop's default handler. Failures are silent.
class IShell {
public:
    virtual ~IShell() = default;
    virtual void open(const std::string& target, ShowCommand) = 0;
    // An address safe to hand to the desktop's browser: scheme http or https, a valid
    // host name or address, no user information, no characters that turn text around.
    virtual bool isWebLink(const std::string& address) const = 0;
};

struct Services {
    IUi& ui;
    IDialogs& dialogs;
    IShell& shell;
};

}  // namespace platform
