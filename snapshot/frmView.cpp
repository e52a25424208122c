#include "snapshot/frmView.h"

#include "resources/Designs.h"

namespace snapshot {

frmView::frmView(platform::Services services, const platform::WindowDesign& design, platform::IWindow& main,
                 std::function<void()> close, std::function<void(platform::IWindow&)> drag)
    : window_(services.ui.createWindow(design)), main_(main) {
    // Load step: the title strip is the main window's own background picture.
    window_->setPicture(main_.picture());

    voWeb().onDocumentComplete([this](const std::string&) { documentComplete(); });
    window_->image("vo_exit").onClick(close);
    window_->onCloseRequest(close);
    window_->image("title_Dong").onMouseDown([this, drag](int) { drag(*window_); });
}

void frmView::documentComplete() {
    // A page that completes after its viewer was closed changes nothing: the viewer is on
    // its way out, and the main window may be too.
    if (closed_) return;
    window_->label("Label3").setCaption(resources::kBlackScreenHint);
    main_.label("Label4").setCaption(resources::kBlackScreenHint);
}

ViewerHost::ViewerHost(platform::Services services, platform::WindowDesign design, platform::IWindow& main,
                       std::function<void(platform::IWindow&)> drag)
    : services_(services), design_(std::move(design)), main_(main), drag_(std::move(drag)) {}

ViewerHost::~ViewerHost() = default;

void frmView::close() {
    closed_ = true;
    window_->close();
}

frmView& ViewerHost::show() {
    if (!view_) view_ = std::make_unique<frmView>(services_, design_, main_, [this] { close(); }, drag_);
    view_->window().show();
    return *view_;
}

void ViewerHost::close() {
    if (!view_) return;
    view_->close();
    // The close may come from one of the viewer's own handlers: free it afterwards.
    std::shared_ptr<frmView> doomed(std::move(view_));
    services_.ui.post([doomed] {});
}

}  // namespace snapshot
