// The main window: start-up, the skinned buttons and links, and the end of the program.
#pragma once

#include <memory>
#include <string>

#include "feed/frmWeb.h"
#include "platform/Ui.h"
#include "resources/Designs.h"
#include "snapshot/SnapshotRoad.h"

namespace shell {


class frmMain {
public:
    frmMain(platform::Services services, resources::Designs designs);
    ~frmMain();

    // The load step: collapse, park the hidden browser, button faces, the notice request.
    void load();
    void show() { window_->show(); }

    platform::IWindow& window() { return *window_; }
    snapshot::SnapshotRoad& road() { return *road_; }
    feed::frmWeb* web() { return web_.get(); }

private:
    void wireButton(const std::string& image, const std::string& label, void (snapshot::SnapshotRoad::*command)());
    void allFacesNormal();
    void openLink();

    platform::Services services_;
    resources::Designs designs_;
    std::unique_ptr<platform::IWindow> window_;
    std::unique_ptr<snapshot::SnapshotRoad> road_;
    std::unique_ptr<feed::frmWeb> web_;
    std::unique_ptr<feed::NoticeFeed> feed_;
};

}  // namespace shell
