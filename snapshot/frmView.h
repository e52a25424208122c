// The viewer window in which the user watches the requested page arrive.
#pragma once

#include <functional>
#include <memory>

#include "platform/Ui.h"

namespace snapshot {

class frmView {
public:
    // Creates the window and runs its load step; `close` is what its close spot does.
    frmView(platform::Services services, const platform::WindowDesign& design, platform::IWindow& main,
            std::function<void()> close, std::function<void(platform::IWindow&)> drag);

    platform::IWindow& window() { return *window_; }
    platform::IBrowser& voWeb() { return window_->browser("voWeb"); }
    // Closes its window; it heeds its page no more.
    void close();

private:
    void documentComplete();

    bool closed_ = false;

    std::unique_ptr<platform::IWindow> window_;
    platform::IWindow& main_;
};

// The one viewer of the program: created on demand, destroyed when closed.
class ViewerHost {
public:
    ViewerHost(platform::Services services, platform::WindowDesign design, platform::IWindow& main,
               std::function<void(platform::IWindow&)> drag);
    ~ViewerHost();

    // Shows the viewer, creating and loading it first when it does not exist.
    frmView& show();
    // Destroys the viewer; nothing happens when there is none.
    void close();
    frmView* current() { return view_.get(); }

private:
    platform::Services services_;
    platform::WindowDesign design_;
    platform::IWindow& main_;
    std::function<void(platform::IWindow&)> drag_;
    std::unique_ptr<frmView> view_;
};

}  // namespace snapshot
