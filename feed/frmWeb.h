// The hidden window whose browser fetches the notice page, and the three timers
// that copy its promotion texts and links onto the main window's link label.
#pragma once

#include <memory>
#include <string>

#include "platform/Ui.h"

namespace feed {

// Never shown; lives until the program ends.
class frmWeb {
public:
    frmWeb(platform::IUi& ui, const platform::WindowDesign& design);
    platform::IBrowser& WebGet() { return window_->browser("WebGet"); }

private:
    std::unique_ptr<platform::IWindow> window_;
};

class NoticeFeed {
public:
    // Wires tim_gg1, tim_gg2 and tim_gg3 of the main window to the notice browser.
    NoticeFeed(platform::IWindow& main, platform::IBrowser& notice);

    // One tick: the text field's value becomes lab_key's caption, then the link
    // field's value becomes Text6's text. Stops silently at the first value missing.
    void tick(const std::string& textField, const std::string& linkField);

private:
    platform::IWindow& main_;
    platform::IBrowser& notice_;
};

}  // namespace feed
