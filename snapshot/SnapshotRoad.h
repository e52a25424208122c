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

// Whether dropped text is an address to load: a web or file address, nothing else.
bool isDroppableAddress(const std::string& text);

class SnapshotRoad {
public:
    using AskName = std::function<std::string()>;
    using Drag = std::function<void(platform::IWindow&)>;

    SnapshotRoad(platform::Services services, platform::IWindow& main, const resources::Designs& designs,
                 AskName askName, Drag drag);

    // Start-up: the hidden browser gets the screen's size and its parking place is recorded.
    void startUp() { capture_.recordParking(); }

    // The commands. One runs at a time: one started while another awaits the engine
    // or a dialog is ignored.
    void openCommand() { exclusive([this] { open(); }); }
    void photoCommand() { exclusive([this] { photo(); }); }
    void saveCommand() { exclusive([this] { save(); }); }
    void drop(const platform::DropData& d) { exclusive([&] { dropped(d); }); }
    bool busy() const { return busy_; }

    PageCapture& capture() { return capture_; }
    ViewerHost& viewer() { return viewer_; }

private:
    void open();
    void photo();
    void save();
    void dropped(const platform::DropData&);
    void openTimeCapture();
    static std::string photoFailureText(const CaptureError&);
    // Runs one command unless another is under way; a click that lands while the
    // engine is awaited is ignored.
    template <class F>
    void exclusive(F&& command) {
        if (busy_) return;
        busy_ = true;
        services_.ui.setBusy(true);
        struct Release {
            bool& flag;
            platform::IUi& ui;
            ~Release() {
                flag = false;
                ui.setBusy(false);
            }
        } release{busy_, services_.ui};
        command();
    }
    bool busy_ = false;
    bool hasSnapshot_ = false;

    platform::Services services_;
    platform::IWindow& main_;
    platform::IBrowser& browser_;
    platform::ITextBox& text1_;
    AskName askName_;
    Preview preview_;
    PageCapture capture_;
    ViewerHost viewer_;
};

}  // namespace snapshot
