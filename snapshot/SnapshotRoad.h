// The road of one snapshot: open an address, photograph the page, pan, save, drops.
#pragma once

#include <exception>
#include <functional>
#include <string>

#include "platform/Ui.h"
#include "resources/Designs.h"
#include "snapshot/PageCapture.h"
#include "snapshot/Preview.h"
#include "snapshot/frmView.h"

namespace snapshot {

inline constexpr double kCollapsedHeight = 825;  // twips: the toolbar strip alone
inline constexpr double kExpandedHeight = 8430;  // twips: the toolbar and the preview

class SnapshotRoad {
public:
    using AskName = std::function<std::string()>;
    using Drag = std::function<void(platform::IWindow&)>;

    SnapshotRoad(platform::Services services, platform::IWindow& main, const resources::Designs& designs,
                 AskName askName, Drag drag);

    // Start-up: the hidden browser gets the screen's size and its parking place is recorded.
    void startUp() { capture_.recordParking(); }

    void openCommand();
    void photoCommand();
    void saveCommand();
    void drop(const platform::DropData&);

    PageCapture& capture() { return capture_; }
    ViewerHost& viewer() { return viewer_; }

private:
    void openTimeCapture();
    static std::string photoFailureText(const std::exception&);

    platform::Services services_;
    platform::IWindow& main_;
    platform::IBrowser& browser_;
    platform::ITextBox& text1_;
    AskName askName_;
    PageCapture capture_;
    Preview preview_;
    ViewerHost viewer_;
};

}  // namespace snapshot
